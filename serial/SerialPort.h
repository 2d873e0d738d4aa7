#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "serial/OpenFailure.h"
#include "serial/PortDevice.h"
#include "serial/SerialOps.h"

// The one access to the serial line: half-duplex RS485 through an RS232C port whose converter
// transmits while RTS is up. Write raises RTS for exactly the time of the transmission; Read hands
// out only what has already arrived and never waits.
class CSerialPort {
public:
    CSerialPort();
    // Tests pass a recording fake; the default (and a null ops) is the operating system.
    explicit CSerialPort(std::unique_ptr<ISerialOps> ops);
    virtual ~CSerialPort();
    CSerialPort(const CSerialPort&) = delete;
    CSerialPort& operator=(const CSerialPort&) = delete;

    // port 1..8 (COMn: $QD7_COMn, else the n-th serial port present, see LocatePort) with the
    // line settings. Returns the device handle, kNullPortHandle on failure (the object stays
    // closed, FailureReason says why). An open port is closed first. Both queues are empty
    // afterwards, DTR is on and RTS off.
    PortHandle Open(int port, const LineSettings& line);
    // Starts ahead, on a thread of its own, what an Open of `port` will first do where that takes
    // long, so that a program that opens it as its window initialises lets it run while the
    // window is made. The Open itself stays as it is; it only finds part of its work done.
    static void PrepareToOpen(int port);
    // The same with the settings one by one: speed in bit/s, data bits 7 or 8, parity code 0 none
    // / 1 odd / 2 even (3 mark, 4 space), stop-bits code 0 one / 2 two.
    PortHandle Open(int port, int speed, int dataBits, int parity, int stopBits);
    // The same on a device named by its path (the command-line companion takes any device).
    // An open still running on its thread (BeginOpen) is waited for first, and given up.
    PortHandle OpenPath(const std::string& path, const LineSettings& line);
    // Opens again the device that the last successful Open reached, with the same line settings,
    // by the name of IdentifyDevice: its adapter's by-id name when that is its own, its by-path
    // name when adapters of its make share the by-id name, else the path it was opened by. Never
    // looks a port number up again: after an unplug COMn may name another device, and the lost
    // port waits for its own. kNullPortHandle when nothing was opened yet.
    PortHandle Reopen();

    // Open and Reopen for a caller whose thread must not wait: where opening would wait (a device
    // server on the network, the search for another holder of the device), it runs on a thread
    // of its own, the port stays closed (a lost one stays lost) until a later TakeOpened brings
    // the result in, and `fnDone`, when given, is called on that thread once it has finished.
    // True when it finished at once, as Open would have. Close gives up an open that runs; its
    // device, if it opened, is closed when it ends.
    bool BeginOpen(int port, const LineSettings& line, std::function<void()> fnDone = {});
    bool BeginReopen(std::function<void()> fnDone = {});
    bool IsOpening() const { return (m_pending && m_pending->bWanted) || m_queued; }
    // The result of an open that ran on its thread and has ended, taken in: true, and IsOpen and
    // FailureReason tell how it went. False while it runs, or when none was begun.
    bool TakeOpened();

    // The path the last successful Open reached; empty before it.
    const std::string& OpenedPath() const { return m_strOpenedPath; }
    // The name Reopen opens: the same device's stable name where it has one; empty before Open.
    const std::string& ReopenPath() const { return m_identity.path; }
    // False when that name may lead to another device by the time it is opened again (a link of
    // the user's own, a pseudo-terminal, an address on the network).
    bool HasStableIdentity() const { return m_identity.bStable; }
    // What the last Open, successful or not, found doubtful about the line without refusing it
    // (a device server asked for a speed it may not set); empty when nothing.
    const std::string& Warning() const { return m_strWarning; }
    // Extra time RTS stays up before the first byte and after the transmitter is empty (and the
    // guard after it), for converters that switch slowly; both 0 by default. Where the kernel
    // drives RTS itself (its RS485 mode) they are handed to the driver at the next Open instead,
    // in whole milliseconds, a 0 keeping the driver's own; a driver that does not take them fails
    // that Open.
    void SetRtsDelays(std::chrono::microseconds before, std::chrono::microseconds after);
    // Why the last Open failed, one line that names the device ("/dev/ttyUSB0: permission
    // denied; ..."); empty after a successful Open.
    const std::string& FailureReason() const { return m_strFailure; }
    // False when the port was not open. Puts the device's former settings back.
    bool Close();
    // Sends count bytes with RTS up and returns once the last of them has left the transmitter
    // (where the transmitter cannot tell, the frame's time and a guard of two characters, at least
    // 1 ms), or once twice the frame's time on the line plus 50 ms have passed. False only when
    // the port is not open: errors on the line are not reported.
    bool Write(const uint8_t* bytes, int count);
    // Copies at most maxCount of the bytes already received; the rest stays queued. Never waits.
    int Read(uint8_t* buffer, int maxCount);
    // Waits at most `timeout` until received bytes are waiting, or the device has gone away
    // (which the next Read finds): true when a Read has something to tell. False at once when the
    // port is not open, and when the time ran out or a signal cut the wait short. The window
    // program reads only at its ticks; the command-line companion waits for its replies so.
    bool WaitForInput(std::chrono::microseconds timeout);
    // On: a Write's waits for the transmitter note when input first arrives meanwhile (they read
    // nothing, and take as long as ever), so that a reply that came during a write can be timed
    // by its arrival rather than by the end of the write. Off by default: the window program
    // reads only at its ticks.
    void SetWatchInputDuringWrite(bool bWatch) { m_bWatchInput = bWatch; }
    // With the watch on: how long before the end of the last Write input was first seen waiting;
    // nothing when none came during it.
    std::optional<std::chrono::microseconds> InputSeenBeforeWriteEnd() const;

    bool IsOpen() const { return m_bOpen; }
    // True once the device went away under an open port (an adapter unplugged): Read or Write
    // then closed the port quietly. Stays true until an Open succeeds or Close is called, so the
    // owner knows to open the same port again when the device is back.
    bool IsLost() const { return m_state == DeviceState::Lost; }

    // Where Open looks for the devices behind the port numbers; the system's own by default.
    void SetPortDirectories(PortDirectories dirs) { m_portDirs = std::move(dirs); }
    const PortDirectories& Directories() const { return m_portDirs; }

    PortHandle m_hPort = kNullPortHandle;
    bool m_bOpen = false; // true while m_state is Held: set with it in Enter, nowhere else

private:
    // Where the port stands with its device: none held (never opened, closed by its owner, or an
    // Open failed), the device held, or the device gone under the open port and waited for.
    enum class DeviceState { None, Held, Lost };

    // What one open needs and what it brings, passed to and from the thread it may run on.
    struct OpenRequest {
        std::string path;
        LineSettings line;
        std::chrono::microseconds rtsBefore{0};
        std::chrono::microseconds rtsAfter{0};
        PortDirectories dirs;
    };
    struct OpenOutcome {
        OpenRequest request;
        PortHandle h = kNullPortHandle;
        bool bKernelRts = false;
        DeviceIdentity identity;
        std::string strFailure;
        std::string strWarning;
    };
    // An open running on its thread. Unwanted once Close or another open gave it up: its device
    // is then closed when it ends.
    struct Pending {
        std::thread thread;
        std::future<OpenOutcome> result;
        bool bWanted = true;
    };
    // The open asked for while another still ran: it begins when that one is taken in.
    struct Queued {
        OpenRequest request;
        std::function<void()> fnDone;
    };

    // The steps of an open, on whichever thread; touches the ops and nothing else of the port.
    static OpenOutcome Attempt(ISerialOps& ops, const OpenRequest& request);
    OpenRequest Request(const std::string& path, const LineSettings& line) const;
    void Apply(OpenOutcome outcome);
    bool Begin(OpenRequest request, std::function<void()> fnDone);
    // Waits for an open that runs, closing what it opened; for a caller about to use the ops.
    void Settle();
    // An open that runs, or waits to, is no longer wanted.
    void GiveUpOpening();

    struct SendResult {
        int nSent = 0;              // bytes the driver took
        int64_t nFirstHandedUs = 0; // when it had taken the first of them
        bool bGone = false;         // the device went away meanwhile
    };

    // The one place the state changes, and m_bOpen with it.
    void Enter(DeviceState state);
    void ReleaseDevice();
    void LoseDevice();
    void Fail(std::string reason);
    // The pauses of a write: a sleep, or with the input watch on a wait for input that notes
    // when the first byte came and then sleeps out the rest.
    void Pause(int64_t us);
    SendResult SendAll(const uint8_t* bytes, int count, int64_t nDeadlineUs);
    void WaitTransmitterEmpty(int64_t nLineEndUs, int64_t nGuardUs, int64_t nDeadlineUs);

    std::unique_ptr<ISerialOps> m_pOps;
    PortDirectories m_portDirs;
    LineSettings m_line;         // as set at the last successful Open, for the times on the line
    std::string m_strOpenedPath; // what the last successful Open reached
    DeviceIdentity m_identity;   // the name that finds that device again, for Reopen
    std::string m_strWarning;
    std::optional<Pending> m_pending;
    std::optional<Queued> m_queued;
    std::chrono::microseconds m_rtsBefore{0};
    std::chrono::microseconds m_rtsAfter{0};
    bool m_bKernelRts = false; // the driver raises RTS itself (RS485 mode of the kernel)
    bool m_bWatchInput = false;
    int64_t m_nInputSeenUs = 0; // when input was first seen during the last write; 0: not seen
    int64_t m_nWriteEndUs = 0;
    DeviceState m_state = DeviceState::None;
    std::string m_strFailure;
};
