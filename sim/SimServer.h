#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "serial/UniqueFd.h"
#include "sim/SimBus.h"

// Serves a CSimBus on a device: it reads what the peer sends, feeds it to the bus and writes the
// replies back, late ones when their time has come. The device is a pseudo-terminal of its own, a
// port or pty that exists, or an fd handed in by a test. It holds the pty's slave open itself, so
// the peer may close and reopen its side at any time.
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

    const std::string& DevicePath() const { return m_strDevicePath; }

    bool Start();
    void Stop();
    bool IsRunning() const { return m_bRunning.load(); }

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

    int DeviceFd() const { return m_fdOwned.IsValid() ? m_fdOwned.Get() : m_hServedFd; }
    bool HasDevice() const { return DeviceFd() >= 0; }
    void Run();
    void ReadDevice(bool& peerGone);
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
    std::string m_strDevicePath;
    std::thread m_thread;
    std::atomic<bool> m_bRunning{false};
    std::vector<PendingReply> m_vecPending; // server thread only
    std::function<void(std::string_view)> m_fnLog;

    std::atomic<uint64_t> m_nRepliesSent{0};
    std::mutex m_waitMutex;
    std::condition_variable m_cvProgress;
};
