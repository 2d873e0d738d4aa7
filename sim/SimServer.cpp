#include "sim/SimServer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>

#include "protocol/FrameCodec.h"
#include "sim/SimDevice.h"
#include "sim/SimNetwork.h"

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
    Reset();
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
    Reset();
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
    Reset();
    m_hServedFd = fd;
    m_fdKeeper = OpenPtySlaveKeeper(fd);
    std::array<char, 128> name{};
    m_strDevicePath = ::ptsname_r(fd, name.data(), name.size()) == 0 ? name.data() : "";
    return true;
}

bool CSimServer::OpenNetwork(const std::string& url, int speed, std::string& error) {
    if (IsRunning()) {
        error = "the server is running";
        return false;
    }
    const std::optional<NetworkAddress> address = ParseNetworkAddress(url, error);
    if (!address) {
        error = url + ": " + error;
        return false;
    }
    const auto deadline = Clock::now() + kNetworkOpenBudget;
    OpenError failure;
    std::unique_ptr<CNetworkLink> link = CNetworkLink::Connect(*address, deadline, failure);
    std::string reason;
    if (!link) {
        reason = OpenFailureText(failure);
    } else if (!link->SetLine(LineSettings{speed, 8, 0, 0}, deadline, reason)) {
        link.reset();
    }
    if (!link) {
        error = url + ": " + reason;
        return false;
    }
    link->Purge(deadline);
    Reset();
    m_pLink = std::move(link);
    m_strDevicePath = url;
    return true;
}

bool CSimServer::Listen(const std::string& url, std::string& error) {
    if (IsRunning()) {
        error = "the server is running";
        return false;
    }
    const std::optional<NetworkAddress> address = ParseNetworkAddress(url, error, true);
    if (!address) {
        error = url + ": " + error;
        return false;
    }
    if (address->protocol != NetworkProtocol::RawTcp) {
        error = url + ": the simulator listens on raw TCP only (tcp://HOST:PORT)";
        return false;
    }
    std::string bound;
    CUniqueFd fd = ListenTcp(*address, bound, error);
    if (!fd.IsValid()) {
        return false;
    }
    Reset();
    m_fdListen = std::move(fd);
    m_strDevicePath = bound;
    return true;
}

void CSimServer::Reset() {
    m_fdOwned.Reset();
    m_fdKeeper.Reset();
    m_hServedFd = -1;
    m_fdListen.Reset();
    m_fdClient.Reset();
    m_pLink.reset();
}

int CSimServer::DeviceFd() const {
    if (m_pLink) {
        return static_cast<int>(m_pLink->Socket());
    }
    if (m_fdListen.IsValid()) {
        return m_fdClient.Get(); // -1 while no client is connected: poll skips it
    }
    return m_fdOwned.IsValid() ? m_fdOwned.Get() : m_hServedFd;
}

std::string CSimServer::Failure() const {
    const std::lock_guard lock(m_failureMutex);
    return m_strFailure;
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
    {
        const std::lock_guard lock(m_failureMutex);
        m_strFailure.clear();
    }
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
        std::array<pollfd, 3> fds{};
        fds[0] = pollfd{m_fdStop.Get(), POLLIN, 0};
        // A hang-up is reported whatever is asked for, so a gone peer's device sits out a round.
        fds[1] = pollfd{peerGone ? -1 : DeviceFd(), POLLIN, 0};
        fds[2] = pollfd{m_fdListen.Get(), POLLIN, 0};
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
        if (peerGone && m_fdClient.IsValid()) {
            DropClient(); // the next client may come
            peerGone = false;
        }
        if (m_pLink && m_pLink->IsGone()) {
            const std::lock_guard lock(m_failureMutex);
            m_strFailure = m_strDevicePath + ": the device server closed the connection";
            break;
        }
        if ((fds[2].revents & POLLIN) != 0) {
            AcceptWaitingClient();
        }
        SendDueReplies();
    }
    m_bRunning = false;
    Notify();
}

void CSimServer::AcceptWaitingClient() {
    CUniqueFd client = AcceptClient(m_fdListen.Get());
    if (!client.IsValid()) {
        return;
    }
    if (m_fdClient.IsValid()) {
        // One client at a time, as on a bus with one master: the newcomer is told at once, by a
        // closed connection, rather than left waiting unanswered.
        LogBytes("client refused: another one is connected", nullptr, 0);
        return;
    }
    LogBytes("client connected", nullptr, 0);
    m_fdClient = std::move(client);
}

void CSimServer::DropClient() {
    LogBytes("client left", nullptr, 0);
    m_fdClient.Reset();
    m_vecPending.clear(); // replies to the client that left are lost with it
}

ssize_t CSimServer::WriteDevice(const uint8_t* bytes, size_t count) {
    if (m_fdClient.IsValid()) {
        // A socket: no SIGPIPE when the client has just gone.
        return ::send(m_fdClient.Get(), bytes, count, MSG_NOSIGNAL);
    }
    return ::write(DeviceFd(), bytes, count);
}

void CSimServer::ReadDevice(bool& peerGone) {
    std::array<uint8_t, kReadChunk> buffer{};
    if (m_pLink) {
        const int nAvailable = m_pLink->Available();
        const int nTaken =
            nAvailable > 0 ? m_pLink->Take(buffer.data(), static_cast<int>(buffer.size())) : 0;
        if (nTaken > 0) {
            Hear(buffer.data(), static_cast<size_t>(nTaken));
        }
        return; // nothing but Telnet's own traffic, or gone (seen by the loop)
    }
    const ssize_t n = ::read(DeviceFd(), buffer.data(), buffer.size());
    if (n <= 0) {
        // 0 or EIO: the other side is closed (a client reset its connection); EAGAIN: someone
        // else took the bytes.
        peerGone = n == 0 || (n < 0 && (errno == EIO || errno == ECONNRESET));
        return;
    }
    Hear(buffer.data(), static_cast<size_t>(n));
}

void CSimServer::Hear(const uint8_t* bytes, size_t count) {
    LogBytes("rx ", bytes, count);
    const auto now = Clock::now();
    for (SimReply& reply : m_bus.Feed(std::span(bytes, count))) {
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

bool CSimServer::WriteToLink(const std::vector<uint8_t>& bytes) {
    if (DeviceFd() < 0) {
        return false;
    }
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    int nTaken = kWriteWouldBlock;
    while ((nTaken = m_pLink->Send(bytes.data(), static_cast<int>(bytes.size()))) ==
           kWriteWouldBlock) {
        if (Clock::now() >= deadline || !m_pLink->WaitWritable(1000)) {
            return false;
        }
    }
    if (nTaken < 0) {
        return false;
    }
    // Sent once the system has taken all of it; the server then puts it on its line.
    while (m_pLink->Unsent() > 0 && !m_pLink->IsGone()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        std::array<pollfd, 2> fds{};
        fds[0] = pollfd{DeviceFd(), POLLOUT, 0};
        fds[1] = pollfd{m_fdStop.Get(), POLLIN, 0};
        if (::poll(fds.data(), fds.size(), static_cast<int>(left.count())) > 0 &&
            (fds[1].revents & POLLIN) != 0) {
            return false;
        }
    }
    return !m_pLink->IsGone();
}

bool CSimServer::WriteAll(const std::vector<uint8_t>& bytes) {
    if (m_pLink) {
        return WriteToLink(bytes);
    }
    if (DeviceFd() < 0) {
        return false; // no client connected: the reply is lost, as on a line nobody listens to
    }
    size_t done = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
    while (done < bytes.size()) {
        const ssize_t n = WriteDevice(bytes.data() + done, bytes.size() - done);
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
        if (count > 0) {
            line += FormatHexDump(bytes, static_cast<int>(count));
        }
        m_fnLog(line);
    }
}
