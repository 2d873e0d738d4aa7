#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <thread>
#include <vector>

#include "serial/NetworkLink.h"
#include "serial/UniqueFd.h"
#include "sim/SimBus.h"

// Serves a CSimBus on a device: it reads what the peer sends, feeds it to the bus and writes the
// replies back, late ones when their time has come. The device is a pseudo-terminal of its own, a
// port or pty that exists, an fd handed in by a test, a serial device server's port on the network
// (the simulator is then the bus behind the server), or a TCP port of its own that a tool connects
// to as to a device server's raw port. It holds the pty's slave open itself, so the peer may close
// and reopen its side at any time; on its own TCP port one client is served at a time, and the
// next may come once it has gone.
//
// Open one device, then Start() runs the loop in a thread until Stop() (or destruction). The bus
// must outlive the server; its faults may be changed while the server runs.
class CSimServer {
public:
    explicit CSimServer(CSimBus& bus);
    ~CSimServer();
    CSimServer(const CSimServer&) = delete;
    CSimServer& operator=(const CSimServer&) = delete;

    // A new pseudo-terminal; the peer opens DevicePath().
    bool OpenPty();
    // An existing port or pty slave, raw 8N1 at `speed`; `error` says why it failed.
    bool OpenDevice(const std::string& path, int speed, std::string& error);
    // An fd the caller keeps owning, e.g. the master of a test's pty pair; it must stay open until
    // Stop(). When it is a pty master, its slave is held open as for OpenPty(). While it is served
    // it is non-blocking, so that a peer that reads nothing cannot hold the server; Stop() gives
    // it its own flags back.
    bool ServeFd(int fd);
    // A port of a serial device server (tcp://, rfc2217://; the line at `speed` 8N1 through RFC
    // 2217). When the server closes the connection, serving ends (IsRunning() turns false and
    // Failure() says why).
    bool OpenNetwork(const std::string& url, int speed, std::string& error);
    // Listens on a TCP address of its own (tcp://HOST:PORT, port 0: any free one); DevicePath()
    // is then the address as bound.
    bool Listen(const std::string& url, std::string& error);

    const std::string& DevicePath() const { return m_strDevicePath; }

    bool Start();
    void Stop();
    bool IsRunning() const { return m_bRunning.load(); }
    // Why serving ended by itself; empty while it runs.
    std::string Failure() const;

    // Each read and each write, in hex; called on the server's thread.
    void SetTrafficLog(std::function<void(std::string_view)> sink);

    // Replies written to the device; frames the bus has heard (CSimBus::FramesReceived).
    uint64_t RepliesSent() const { return m_nRepliesSent.load(); }
    uint64_t FramesReceived() const { return m_bus.FramesReceived(); }
    // Wait until that many replies have been written, or frames heard; false on timeout.
    bool WaitForReplies(uint64_t count, std::chrono::milliseconds timeout);
    bool WaitForFrames(uint64_t count, std::chrono::milliseconds timeout);
    std::vector<std::string> ReceivedBodies() const { return m_bus.ReceivedBodies(); }

private:
    using Clock = std::chrono::steady_clock;
    struct PendingReply {
        Clock::time_point due;
        std::vector<uint8_t> bytes;
    };

    int DeviceFd() const;
    bool HasDevice() const { return DeviceFd() >= 0 || m_fdListen.IsValid(); }
    void Reset();
    void AcceptWaitingClient();
    void DropClient();
    ssize_t WriteDevice(const uint8_t* bytes, size_t count);
    bool WriteToLink(const std::vector<uint8_t>& bytes);
    void Run();
    void ReadDevice(bool& peerGone);
    void Hear(const uint8_t* bytes, size_t count);
    void SendDueReplies();
    bool WriteAll(const std::vector<uint8_t>& bytes);
    int PollTimeout(bool peerGone) const;
    void Notify();
    void LogBytes(std::string_view prefix, const uint8_t* bytes, size_t count);

    CSimBus& m_bus;
    CUniqueFd m_fdOwned;     // the device when the server opened it
    int m_hServedFd = -1;    // the device when a caller handed it in
    int m_nServedFlags = -1; // its file status flags before Start(), put back by Stop()
    CUniqueFd m_fdKeeper;    // the pty's slave, held open
    CUniqueFd m_fdStop;      // eventfd that wakes the loop to end
    CUniqueFd m_fdListen;    // our own TCP port, when listening
    CUniqueFd m_fdClient;    // the client it serves now
    std::unique_ptr<CNetworkLink> m_pLink; // a device server's port
    mutable std::mutex m_failureMutex;
    std::string m_strFailure;
    std::string m_strDevicePath;
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    std::vector<PendingReply> m_vecPending; // server thread only
    std::function<void(std::string_view)> m_fnLog;

    std::atomic<uint64_t> m_nRepliesSent{0};
    std::mutex m_waitMutex;
    std::condition_variable m_cvProgress;
};
