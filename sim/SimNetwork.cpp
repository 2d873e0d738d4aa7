#include "sim/SimNetwork.h"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

constexpr int kBacklog = 4;

uint16_t BoundPort(int fd) {
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &length) != 0) {
        return 0;
    }
    if (bound.ss_family == AF_INET6) {
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port);
    }
    return ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);
}

} // namespace

CUniqueFd ListenTcp(const NetworkAddress& address, std::string& url, std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* pList = nullptr;
    const int nLookup =
        getaddrinfo(address.host.c_str(), std::to_string(address.nPort).c_str(), &hints, &pList);
    if (nLookup != 0) {
        error = address.host + ": " + gai_strerror(nLookup);
        return {};
    }
    int nErrno = EADDRNOTAVAIL;
    CUniqueFd fd;
    for (const addrinfo* p = pList; p != nullptr && !fd.IsValid(); p = p->ai_next) {
        CUniqueFd candidate(
            socket(p->ai_family, p->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, p->ai_protocol));
        const int one = 1;
        if (candidate.IsValid() &&
            setsockopt(candidate.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0 &&
            bind(candidate.Get(), p->ai_addr, p->ai_addrlen) == 0 &&
            listen(candidate.Get(), kBacklog) == 0) {
            fd = std::move(candidate);
        } else {
            nErrno = errno;
        }
    }
    freeaddrinfo(pList);
    if (!fd.IsValid()) {
        error = FormatNetworkAddress(address) + ": " + std::strerror(nErrno);
        return {};
    }
    NetworkAddress bound = address;
    bound.nPort = BoundPort(fd.Get());
    url = FormatNetworkAddress(bound);
    return fd;
}

CUniqueFd AcceptClient(int listenFd) {
    CUniqueFd fd(accept4(listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
    if (fd.IsValid()) {
        const int one = 1;
        setsockopt(fd.Get(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
    return fd;
}
