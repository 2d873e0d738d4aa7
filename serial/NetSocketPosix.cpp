// TCP connections through BSD sockets.
#include "serial/NetSocket.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "serial/BoundedTask.h"

namespace {

using Clock = std::chrono::steady_clock;

// A peer that vanished without closing (a pulled cable, a server switched off) is found by
// keep-alive probes after this much silence, one a second, given up after this many; data that
// the peer does not acknowledge within the last bound closes the connection too.
constexpr int kKeepIdleSeconds = 5;
constexpr int kKeepIntervalSeconds = 1;
constexpr int kKeepProbes = 3;
constexpr unsigned int kUnacknowledgedMs = 5000;

struct Resolved {
    int nError = 0;                              // getaddrinfo's result
    int nErrno = 0;                              // errno behind EAI_SYSTEM
    std::vector<std::vector<uint8_t>> addresses; // sockaddr_in or sockaddr_in6, in the order given
};

Resolved Lookup(const std::string& host, uint16_t port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | flags;
    addrinfo* pList = nullptr;
    Resolved resolved;
    resolved.nError = getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &pList);
    resolved.nErrno = errno;
    if (resolved.nError == 0) {
        for (const addrinfo* p = pList; p != nullptr; p = p->ai_next) {
            const auto* pBytes = reinterpret_cast<const uint8_t*>(p->ai_addr);
            resolved.addresses.emplace_back(pBytes, pBytes + p->ai_addrlen);
        }
        freeaddrinfo(pList);
    }
    return resolved;
}

int64_t LeftMs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return std::max<int64_t>(left.count(), 0);
}

void Fail(ConnectError& error, ConnectFailure kind, std::string text) {
    error.kind = kind;
    error.text = std::move(text);
}

void FailWithErrno(ConnectError& error, int nErrno) {
    switch (nErrno) {
    case ECONNREFUSED:
        Fail(error, ConnectFailure::Refused, "connection refused");
        return;
    case ETIMEDOUT:
        Fail(error, ConnectFailure::TimedOut, "timed out");
        return;
    case ENETUNREACH:
        Fail(error, ConnectFailure::Unreachable, "network unreachable");
        return;
    case EHOSTUNREACH:
        Fail(error, ConnectFailure::Unreachable, "host unreachable");
        return;
    default:
        Fail(error, ConnectFailure::Other, std::strerror(nErrno));
        return;
    }
}

bool Resolve(const std::string& host, uint16_t port, Clock::time_point deadline, Resolved& resolved,
             ConnectError& error) {
    // An address literal needs no name server and never blocks.
    resolved = Lookup(host, port, AI_NUMERICHOST);
    if (resolved.nError == EAI_NONAME) {
        std::optional<Resolved> looked =
            RunUntil([host, port] { return Lookup(host, port, 0); }, deadline);
        if (!looked) {
            Fail(error, ConnectFailure::TimedOut, "timed out (looking up " + host + ")");
            return false;
        }
        resolved = std::move(*looked);
    }
    switch (resolved.nError) {
    case 0:
        if (resolved.addresses.empty()) {
            Fail(error, ConnectFailure::NoSuchHost, "no such host (" + host + ")");
            return false;
        }
        return true;
    case EAI_NONAME:
#ifdef EAI_NODATA
    case EAI_NODATA:
#endif
#ifdef EAI_ADDRFAMILY
    case EAI_ADDRFAMILY:
#endif
        Fail(error, ConnectFailure::NoSuchHost, "no such host (" + host + ")");
        return false;
    case EAI_SYSTEM:
        Fail(error, ConnectFailure::Other,
             "looking up " + host + ": " + std::strerror(resolved.nErrno));
        return false;
    default:
        Fail(error, ConnectFailure::Other,
             "looking up " + host + ": " + gai_strerror(resolved.nError));
        return false;
    }
}

void SetOptions(int fd) {
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &one, sizeof one);
#ifdef TCP_KEEPIDLE
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepIdleSeconds, sizeof kKeepIdleSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepIntervalSeconds, sizeof kKeepIntervalSeconds);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepProbes, sizeof kKeepProbes);
#endif
#ifdef TCP_USER_TIMEOUT
    setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &kUnacknowledgedMs, sizeof kUnacknowledgedMs);
#endif
}

// One address, until the deadline; the socket, or -1 with errno's reason in nErrno.
int ConnectOne(const std::vector<uint8_t>& address, Clock::time_point deadline, int& nErrno) {
    const auto* pAddress = reinterpret_cast<const sockaddr*>(address.data());
    const int fd = socket(pAddress->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        nErrno = errno;
        return -1;
    }
    SetOptions(fd);
    if (connect(fd, pAddress, static_cast<socklen_t>(address.size())) == 0) {
        return fd;
    }
    if (errno != EINPROGRESS) {
        nErrno = errno;
        close(fd);
        return -1;
    }
    for (;;) {
        pollfd pfd{fd, POLLOUT, 0};
        const int n = poll(&pfd, 1, static_cast<int>(LeftMs(deadline)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            nErrno = n == 0 ? ETIMEDOUT : errno;
            close(fd);
            return -1;
        }
        break;
    }
    int nSoError = 0;
    socklen_t length = sizeof nSoError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &nSoError, &length) != 0 || nSoError != 0) {
        nErrno = nSoError != 0 ? nSoError : errno;
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds budget,
                        ConnectError& error) {
    error = {};
    const Clock::time_point deadline = Clock::now() + budget;
    Resolved resolved;
    if (!Resolve(host, port, deadline, resolved, error)) {
        return kNoSocket;
    }
    // A name may stand for several addresses (localhost: ::1 and 127.0.0.1); the first that
    // accepts wins. A refusal says more than a time-out that only came from running out of time.
    int nErrno = ETIMEDOUT;
    bool bRefused = false;
    for (const std::vector<uint8_t>& address : resolved.addresses) {
        if (LeftMs(deadline) <= 0) {
            break;
        }
        const int fd = ConnectOne(address, deadline, nErrno);
        if (fd >= 0) {
            return fd;
        }
        bRefused = bRefused || nErrno == ECONNREFUSED;
    }
    FailWithErrno(error, bRefused ? ECONNREFUSED : nErrno);
    return kNoSocket;
}

int SendSome(SocketHandle socket, const uint8_t* bytes, int count) {
    for (;;) {
        const ssize_t n =
            send(static_cast<int>(socket), bytes, static_cast<size_t>(count), MSG_NOSIGNAL);
        if (n >= 0) {
            return static_cast<int>(n);
        }
        switch (errno) {
        case EINTR:
            continue;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return kSocketWouldBlock;
        case EPIPE:
        case ECONNRESET:
        case ETIMEDOUT: // keep-alive or unacknowledged data gave the peer up
        case EHOSTUNREACH:
        case ENETUNREACH:
            return kSocketClosed;
        default:
            return kSocketFailed;
        }
    }
}

int ReceiveSome(SocketHandle socket, uint8_t* buffer, int count) {
    for (;;) {
        const ssize_t n = recv(static_cast<int>(socket), buffer, static_cast<size_t>(count), 0);
        if (n > 0) {
            return static_cast<int>(n);
        }
        if (n == 0) {
            return kSocketClosed;
        }
        switch (errno) {
        case EINTR:
            continue;
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            return kSocketWouldBlock;
        case ECONNRESET:
        case ETIMEDOUT:
        case EHOSTUNREACH:
        case ENETUNREACH:
        case EPIPE:
            return kSocketClosed;
        default:
            return kSocketFailed;
        }
    }
}

bool WaitSocket(SocketHandle socket, bool bWrite, int64_t timeoutUs) {
    const Clock::time_point deadline = Clock::now() + std::chrono::microseconds(timeoutUs);
    for (;;) {
        pollfd pfd{static_cast<int>(socket), static_cast<short>(bWrite ? POLLOUT : POLLIN), 0};
        const int n = poll(&pfd, 1, static_cast<int>(LeftMs(deadline)));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        return n > 0;
    }
}

void ShutdownSending(SocketHandle socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) {
        close(static_cast<int>(socket));
    }
}
