#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A pseudo-terminal pair for tests that need a real serial-like device without hardware.
//
//   PtyPair pty;                          // opened in the constructor; check IsOpen()
//   setenv("QD7_COM1", pty.SlavePath().c_str(), 1);
//   CSerialPort port;  port.Open(1, 9600, 8, 0, 0);   // the program side opens the slave
//   pty.WriteMaster(bytes, n);            // the far side (a meter, the simulator) talks here
//   pty.ReadMaster(35, 1000);             // returns as soon as 35 bytes came, or after 1 s
//
// The slave starts in raw mode. The fixture keeps one descriptor of the slave open for its whole
// life (SlaveFd, never read from), so the master sees no hang-up while the program closes and
// reopens the port, and tests can read the slave's settings through it. CloseMaster makes the far
// side hang up; the destructor closes whatever is still open. Facts of ptys to keep in mind: no
// modem lines (those ioctls fail with ENOTTY), 8 data bits and no parity whatever is set, no
// pacing at the line speed.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool IsOpen() const { return m_nMasterFd >= 0 && m_nSlaveFd >= 0; }
    int MasterFd() const { return m_nMasterFd; } // blocking; -1 after CloseMaster
    int SlaveFd() const { return m_nSlaveFd; }
    const std::string& SlavePath() const { return m_strSlavePath; }

    // Writes all bytes to the master; false on error.
    bool WriteMaster(const void* bytes, size_t count);
    // Reads from the master until maxCount bytes have come or timeoutMs passed without any.
    std::vector<uint8_t> ReadMaster(size_t maxCount, int timeoutMs);
    void CloseMaster();

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};
