#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

#include "tests/support/ServerProcess.h"
#include "tests/support/TempDir.h"

// A real serial device server for the tests: Debian's ser2net, run by the test on 127.0.0.1 in
// front of a device (a pty whose far side the test or the simulator plays), on a free port, with a
// configuration file of its own in a temporary folder. One accepter per server: ser2net lets one
// connection at a time hold the device, and it gives the device up only a moment after a client
// has gone.
class CSer2net {
public:
    enum class Mode { RawTcp, Rfc2217 };

    CSer2net(std::string devicePath, Mode mode);
    ~CSer2net();
    CSer2net(const CSer2net&) = delete;
    CSer2net& operator=(const CSer2net&) = delete;

    // Starts it (again: on the same port) and waits until it listens; false when it did not
    // within a few seconds, with its own words in Log().
    bool Start();
    // Ends it (SIGTERM, then SIGKILL) and waits for it: its connections close as when a device
    // server is switched off or restarted.
    void Stop();
    bool IsRunning() const { return m_nPid > 0; }

    // What a tool opens: tcp://127.0.0.1:PORT or rfc2217://127.0.0.1:PORT.
    std::string Url() const;
    uint16_t Port() const { return m_nPort; }
    // What ser2net wrote on its standard output and error, for a failing test's message.
    std::string Log() const;

private:
    std::string m_strDevice;
    Mode m_mode;
    CTempDir m_dir;
    uint16_t m_nPort = 0;
    pid_t m_nPid = -1;
};
