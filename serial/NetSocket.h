#pragma once

#include <chrono>
#include <cstdint>
#include <string>

// TCP connections of the operating system, as the network ports need them: one file per system
// (BSD sockets, winsock) behind these few calls. Every call returns at once or within the time it
// is given; none raises a signal (a peer that went away is a return value, never SIGPIPE).

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle kNoSocket = -1;

// Why a connection could not be made, in the words a user reads in the open failure.
enum class ConnectFailure {
    None,
    NoSuchHost,  // the name is not known
    Refused,     // nothing listens on that port (or a firewall said so)
    TimedOut,    // no answer within the time given (name lookup or connection)
    Unreachable, // no route to that network or host
    Other,       // any other error of the system, in its own words
};

struct ConnectError {
    ConnectFailure kind = ConnectFailure::None;
    std::string text; // "connection refused", "no such host (plant-gw)", ...
};

// Looks the host up and connects to the first of its addresses that accepts, all within `budget`:
// the lookup runs in a helper thread and is abandoned at the deadline, since the system's
// resolver may wait for a name server far longer. The socket is non-blocking, sends small
// segments at once (no Nagle delay: a frame is 35 bytes and its reply is awaited), and finds a
// peer that vanished without a word (cable pulled, server powered off) within seconds by TCP
// keep-alive and a bound on unacknowledged data, where the system offers them.
SocketHandle ConnectTcp(const std::string& host, uint16_t port, std::chrono::milliseconds budget,
                        ConnectError& error);

// SendSome and ReceiveSome: besides a byte count.
inline constexpr int kSocketWouldBlock = -1; // nothing could be done now
inline constexpr int kSocketClosed = -2;     // the peer closed or reset the connection
inline constexpr int kSocketFailed = -3;     // any other error

// Hands up to count bytes to the system: the number taken, or one of the results above.
int SendSome(SocketHandle socket, const uint8_t* bytes, int count);
// Up to count bytes that have arrived, without waiting: their number (never 0), or one of the
// results above.
int ReceiveSome(SocketHandle socket, uint8_t* buffer, int count);
// Waits at most timeoutUs until the socket can take more bytes (bWrite) or has some to read, or
// has been closed; false when the time ran out.
bool WaitSocket(SocketHandle socket, bool bWrite, int64_t timeoutUs);
// Says that nothing more will be sent (the peer reads the end of the stream); receiving goes on.
void ShutdownSending(SocketHandle socket);
void CloseSocket(SocketHandle socket);
