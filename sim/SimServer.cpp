#include "sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "protocol/FrameCodec.h"
#include "sim/SimDevice.h"

namespace {

constexpr size_t kReadChunk = 512;
// While the peer has the device closed (only possible without a held slave), look again this
// often rather than spinning on the hang-up.
constexpr int kPeerGoneRetryMs = 20;
// A reply that cannot be written within this time is lost, as on a line nobody listens to.
constexpr int kWriteTimeoutMs = 200;

} // namespace

CSimServer::CSimServer(CSimBus& bus) : m_bus(bus) {}

CSimServer::~CSimServer() {
    Stop();
}

bool CSimServer::OpenPty() {
    if (IsRunning()) {
        return false;
    }
    std::optional<SimPty> pty = ::OpenPty();
    if (!pty) {
        return false;
    }
    m_fdOwned = std::move(pty->master);
    m_fdKeeper = std::move(pty->slaveKeeper);
    m_hServedFd = -1;
    m_strDevicePath = pty->slavePath;
    return true;
}

bool CSimServer::OpenDevice(const std::string& path, int speed, std::string& error) {
    if (IsRunning()) {
        error = "the server is running";
        return false;
    }
    CUniqueFd fd = OpenSerialDevice(path, speed, error);
    if (!fd.IsValid()) {
        return false;
    }
    m_fdOwned = std::move(fd);
    m_fdKeeper.Reset();
    m_hServedFd = -1;
    m_strDevicePath = path;
    return true;
}

bool CSimServer::ServeFd(int fd) {
    if (IsRunning() || fd < 0) {
        return false;
    }
    m_fdOwned.Reset();
    m_hServedFd = fd;
    m_fdKeeper = OpenPtySlaveKeeper(fd);
    std::array<char, 128> name{};
    m_strDevicePath = ::ptsname_r(fd, name.data(), name.size()) == 0 ? name.data() : "";
    return true;
}

void CSimServer::SetTrafficLog(std::function<void(std::string_view)> sink) {
    if (!IsRunning()) {
        m_fnLog = std::move(sink);
    }
}

bool CSimServer::Start() {
    if (IsRunning() || !HasDevice()) {
        return false;
    }
    m_fdStop.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_fdStop.IsValid()) {
        return false;
    }
    // A blocking write to a peer that reads nothing would wait for room for ever, and Stop()
    // with it: the loop relies on the device never blocking.
    if (m_hServedFd >= 0) {
        const int flags = ::fcntl(m_hServedFd, F_GETFL);
        if (flags < 0 || ::fcntl(m_hServedFd, F_SETFL, flags | O_NONBLOCK) != 0) {
            m_fdStop.Reset();
            return false;
        }
        m_nServedFlags = flags;
    }
    m_vecPending.clear();
    m_bRunning = true;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CSimServer::Stop() {
    if (m_thread.joinable()) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_fdStop.Get(), &one, sizeof one);
        m_thread.join();
    }
    if (m_hServedFd >= 0 && m_nServedFlags >= 0) {
        ::fcntl(m_hServedFd, F_SETFL, m_nServedFlags);
    }
    m_nServedFlags = -1;
    m_fdStop.Reset();
    m_bRunning = false;
}

void CSimServer::Run() {
    bool peerGone = false;
    while (true) {
        std::array<pollfd, 2> fds{};
        fds[0] = pollfd{m_fdStop.Get(), POLLIN, 0};
        // A hang-up is reported whatever is asked for, so a gone peer's device sits out a round.
        fds[1] = pollfd{peerGone ? -1 : DeviceFd(), POLLIN, 0};
        const int ready = ::poll(fds.data(), fds.size(), PollTimeout(peerGone));
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            break;
        }
        peerGone = false;
        if ((fds[1].revents & POLLIN) != 0) {
            ReadDevice(peerGone);
        } else if ((fds[1].revents & (POLLHUP | POLLERR)) != 0) {
            peerGone = true;
        } else if ((fds[1].revents & POLLNVAL) != 0) {
            break;
        }
        SendDueReplies();
    }
    m_bRunning = false;
    Notify();
}

void CSimServer::ReadDevice(bool& peerGone) {
    std::array<uint8_t, kReadChunk> buffer{};
    const ssize_t n = ::read(DeviceFd(), buffer.data(), buffer.size());
    if (n <= 0) {
        // 0 or EIO: the other side is closed; EAGAIN: someone else took the bytes.
        peerGone = n == 0 || (n < 0 && errno == EIO);
        return;
    }
    const auto count = static_cast<size_t>(n);
    LogBytes("rx ", buffer.data(), count);
    const auto now = Clock::now();
    for (SimReply& reply : m_bus.Feed(std::span(buffer.data(), count))) {
        m_vecPending.push_back(PendingReply{now + reply.delay, std::move(reply.bytes)});
    }
    // Replies go out in the order they fall due; equal times keep the order of the requests.
    std::stable_sort(m_vecPending.begin(), m_vecPending.end(),
                     [](const PendingReply& a, const PendingReply& b) { return a.due < b.due; });
    Notify();
}

void CSimServer::SendDueReplies() {
    const auto now = Clock::now();
    const auto due = std::find_if(m_vecPending.begin(), m_vecPending.end(),
                                  [now](const PendingReply& p) { return p.due > now; });
    for (auto it = m_vecPending.begin(); it != due; ++it) {
        if (WriteAll(it->bytes)) {
            LogBytes("tx ", it->bytes.data(), it->bytes.size());
            ++m_nRepliesSent;
        } else {
            LogBytes("tx lost ", it->bytes.data(), it->bytes.size());
        }
    }
    if (due != m_vecPending.begin()) {
        m_vecPending.erase(m_vecPending.begin(), due);
        Notify();
    }
}

bool CSimServer::WriteAll(const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (done < bytes.size()) {
        const ssize_t n = ::write(DeviceFd(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if ((n < 0 && errno != EAGAIN && errno != EINTR) || left.count() <= 0) {
            return false;
        }
        // Waiting for room also watches Stop(): replies still queued for a peer that reads
        // nothing would otherwise hold it for their time-outs one after the other.
        std::array<pollfd, 2> fds{};
        fds[0] = pollfd{DeviceFd(), POLLOUT, 0};
        fds[1] = pollfd{m_fdStop.Get(), POLLIN, 0};
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) > 0 &&
            (fds[1].revents & POLLIN) != 0) {
            return false;
        }
    }
    return true;
}

int CSimServer::PollTimeout(bool peerGone) const {
    int timeout = peerGone ? kPeerGoneRetryMs : -1;
    if (!m_vecPending.empty()) {
        const auto wait =
            std::chrono::ceil<std::chrono::milliseconds>(m_vecPending.front().due - Clock::now());
        const int ms = static_cast<int>(std::max<int64_t>(wait.count(), 0));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }
    return timeout;
}

void CSimServer::Notify() {
    { const std::lock_guard lock(m_waitMutex); }
    m_cvProgress.notify_all();
}

bool CSimServer::WaitForReplies(uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_waitMutex);
    return m_cvProgress.wait_for(lock, timeout, [&] { return RepliesSent() >= count; });
}

bool CSimServer::WaitForFrames(uint64_t count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_waitMutex);
    return m_cvProgress.wait_for(lock, timeout, [&] { return FramesReceived() >= count; });
}

void CSimServer::LogBytes(std::string_view prefix, const uint8_t* bytes, size_t count) {
    if (m_fnLog) {
        std::string line(prefix);
        line += FormatHexDump(bytes, static_cast<int>(count));
        m_fnLog(line);
    }
}
