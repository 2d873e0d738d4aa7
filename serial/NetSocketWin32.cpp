// TCP connections through winsock.
#include "serial/NetSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <mstcpip.h>

#include <algorithm>
#include <mutex>
#include <vector>

#include "serial/BoundedTask.h"
#include "serial/SystemError.h"
#include "serial/TextWin32.h"

namespace {

using Clock = std::chrono::steady_clock;

// As on other systems: a peer that vanished without closing is found by keep-alive probes after
// this much silence, one a second.
constexpr ULONG kKeepIdleMs = 5000;
constexpr ULONG kKeepIntervalMs = 1000;

// Winsock is started once for the life of the program; the system ends it with the process.
bool StartWinsock() {
    static std::once_flag once;
    static bool bStarted = false;
    std::call_once(once, [] {
        WSADATA data{};
        bStarted = WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return bStarted;
}

struct Resolved {
    int nError = 0;
    std::vector<std::vector<uint8_t>> addresses;
};

Resolved Lookup(const std::string& host, uint16_t port, int flags) {
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | flags;
    ADDRINFOW* pList = nullptr;
    Resolved resolved;
    // The wide call: host names are UTF-8 here (an internationalised name keeps its letters).
    resolved.nError =
        GetAddrInfoW(WideFromUtf8(host).c_str(), std::to_wstring(port).c_str(), &hints, &pList);
    if (resolved.nError == 0) {
        for (const ADDRINFOW* p = pList; p != nullptr; p = p->ai_next) {
            const auto* pBytes = reinterpret_cast<const uint8_t*>(p->ai_addr);
            resolved.addresses.emplace_back(pBytes, pBytes + p->ai_addrlen);
        }
        FreeAddrInfoW(pList);
    }
    return resolved;
}

int64_t LeftUs(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    return std::max<int64_t>(left.count(), 0);
}

timeval TimeVal(int64_t us) {
    timeval tv{};
    tv.tv_sec = static_cast<long>(us / 1'000'000);
    tv.tv_usec = static_cast<long>(us % 1'000'000);
    return tv;
}

void Fail(ConnectError& error, ConnectFailure kind, std::string text) {
    error.kind = kind;
    error.text = std::move(text);
}

void FailWithCode(ConnectError& error, int nCode) {
    switch (nCode) {
    case WSAECONNREFUSED:
        Fail(error, ConnectFailure::Refused, "connection refused");
        return;
    case WSAETIMEDOUT:
        Fail(error, ConnectFailure::TimedOut, "timed out");
        return;
    case WSAENETUNREACH:
        Fail(error, ConnectFailure::Unreachable, "network unreachable");
        return;
    case WSAEHOSTUNREACH:
        Fail(error, ConnectFailure::Unreachable, "host unreachable");
        return;
    default:
        Fail(error, ConnectFailure::Other, SystemErrorText(nCode));
        return;
    }
}

bool Resolve(const std::string& host, uint16_t port, Clock::time_point deadline, Resolved& resolved,
             ConnectError& error) {
    // An address literal needs no name server and never blocks.
    resolved = Lookup(host, port, AI_NUMERICHOST);
    if (resolved.nError == WSAHOST_NOT_FOUND || resolved.nError == WSANO_DATA ||
        resolved.nError == EAI_NONAME) {
        std::optional<Resolved> looked =
            RunUntil([host, port] { return Lookup(host, port, 0); }, deadline);
        if (!looked) {
            Fail(error, ConnectFailure::TimedOut, "timed out (looking up " + host + ")");
            return false;
        }
        resolved = std::move(*looked);
    }
    if (resolved.nError == 0 && !resolved.addresses.empty()) {
        return true;
    }
    if (resolved.nError == 0 || resolved.nError == WSAHOST_NOT_FOUND ||
        resolved.nError == WSANO_DATA) {
        Fail(error, ConnectFailure::NoSuchHost, "no such host (" + host + ")");
    } else {
        Fail(error, ConnectFailure::Other,
             "looking up " + host + ": " + SystemErrorText(resolved.nError));
    }
    return false;
}

void SetOptions(SOCKET s) {
    const BOOL bOn = TRUE;
    setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&bOn), sizeof bOn);
    tcp_keepalive keepAlive{1, kKeepIdleMs, kKeepIntervalMs};
    DWORD nReturned = 0;
    WSAIoctl(s, SIO_KEEPALIVE_VALS, &keepAlive, sizeof keepAlive, nullptr, 0, &nReturned, nullptr,
             nullptr);
}

// A TCP socket that no program started by this one inherits. Windows before 7 SP1 refuses the
// flag that says so at creation (WSAEINVAL): there the handle is marked once it is made.
SOCKET NewSocket(int family) {
    SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) {
            SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        }
    }
    return s;
}

// One address, until the deadline; the socket, or INVALID_SOCKET with the reason in nCode.
SOCKET ConnectOne(const std::vector<uint8_t>& address, Clock::time_point deadline, int& nCode) {
    const auto* pAddress = reinterpret_cast<const sockaddr*>(address.data());
    const SOCKET s = NewSocket(pAddress->sa_family);
    if (s == INVALID_SOCKET) {
        nCode = WSAGetLastError();
        return INVALID_SOCKET;
    }
    u_long nNonBlocking = 1;
    ioctlsocket(s, FIONBIO, &nNonBlocking);
    SetOptions(s);
    if (connect(s, pAddress, static_cast<int>(address.size())) == 0) {
        return s;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        nCode = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    // select, not WSAPoll: older systems' WSAPoll never reports a refused connection.
    fd_set writable;
    fd_set failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval tv = TimeVal(LeftUs(deadline));
    const int n = select(0, nullptr, &writable, &failed, &tv);
    if (n <= 0) {
        nCode = n == 0 ? WSAETIMEDOUT : WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    int nSoError = 0;
    int length = sizeof nSoError;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&nSoError), &length) != 0 ||
        nSoError != 0 || FD_ISSET(s, &failed)) {
        nCode = nSoError != 0 ? nSoError : WSAECONNREFUSED;
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

bool IsClosedCode(int nCode) {
    switch (nCode) {
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENETRESET:
    case WSAESHUTDOWN:
    case WSAENOTCONN:
    case WSAETIMEDOUT:
    case WSAEHOSTUNREACH:
    case WSAENETUNREACH:
        return true;
    default:
        return false;
    }
}

} // namespace

SocketHandle ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds budget,
                        ConnectError& error) {
    error = {};
    if (!StartWinsock()) {
        Fail(error, ConnectFailure::Other, "the system's network interface cannot be started");
        return kNoSocket;
    }
    const Clock::time_point deadline = Clock::now() + budget;
    Resolved resolved;
    if (!Resolve(host, port, deadline, resolved, error)) {
        return kNoSocket;
    }
    int nCode = WSAETIMEDOUT;
    bool bRefused = false;
    for (const std::vector<uint8_t>& address : resolved.addresses) {
        if (LeftUs(deadline) <= 0) {
            break;
        }
        const SOCKET s = ConnectOne(address, deadline, nCode);
        if (s != INVALID_SOCKET) {
            return static_cast<SocketHandle>(s);
        }
        bRefused = bRefused || nCode == WSAECONNREFUSED;
    }
    FailWithCode(error, bRefused ? WSAECONNREFUSED : nCode);
    return kNoSocket;
}

int SendSome(SocketHandle socket, const uint8_t* bytes, int count) {
    const int n = send(static_cast<SOCKET>(socket), reinterpret_cast<const char*>(bytes), count, 0);
    if (n != SOCKET_ERROR) {
        return n;
    }
    const int nCode = WSAGetLastError();
    if (nCode == WSAEWOULDBLOCK) {
        return kSocketWouldBlock;
    }
    return IsClosedCode(nCode) ? kSocketClosed : kSocketFailed;
}

int ReceiveSome(SocketHandle socket, uint8_t* buffer, int count) {
    const int n = recv(static_cast<SOCKET>(socket), reinterpret_cast<char*>(buffer), count, 0);
    if (n > 0) {
        return n;
    }
    if (n == 0) {
        return kSocketClosed;
    }
    const int nCode = WSAGetLastError();
    if (nCode == WSAEWOULDBLOCK) {
        return kSocketWouldBlock;
    }
    return IsClosedCode(nCode) ? kSocketClosed : kSocketFailed;
}

bool WaitSocket(SocketHandle socket, bool bWrite, int64_t timeoutUs) {
    const SOCKET s = static_cast<SOCKET>(socket);
    fd_set ready;
    fd_set failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv = TimeVal(std::max<int64_t>(timeoutUs, 0));
    return select(0, bWrite ? nullptr : &ready, bWrite ? &ready : nullptr, &failed, &tv) > 0;
}

void ShutdownSending(SocketHandle socket) {
    shutdown(static_cast<SOCKET>(socket), SD_SEND);
}

void CloseSocket(SocketHandle socket) {
    if (socket != kNoSocket) {
        closesocket(static_cast<SOCKET>(socket));
    }
}
