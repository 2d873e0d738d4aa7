#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "serial/NetSocket.h"
#include "serial/OpenFailure.h"
#include "serial/PortAddress.h"
#include "serial/SerialOps.h"
#include "serial/TelnetCodec.h"

// How long opening a network port may take at most, name lookup, connection and (RFC 2217) the
// server's confirmation of the line settings together: the window is held while it lasts.
inline constexpr std::chrono::milliseconds kNetworkOpenBudget{1000};

// One connection to a serial device server, raw or RFC 2217, as the network port and the
// simulator use it. It never blocks longer than it is told: data goes out through a queue of its
// own that each call pushes on as far as the socket takes it, and reading takes only what has
// arrived. A connection the server closed (or that the system gave up) is gone for good.
class CNetworkLink {
public:
    using Clock = std::chrono::steady_clock;

    // Connects by `deadline`; for RFC 2217 also until the server has agreed to the COM-port
    // option. Nothing on failure, with the reason.
    static std::unique_ptr<CNetworkLink> Connect(const NetworkAddress& address,
                                                 Clock::time_point deadline, OpenError& error);
    ~CNetworkLink();
    CNetworkLink(const CNetworkLink&) = delete;
    CNetworkLink& operator=(const CNetworkLink&) = delete;

    NetworkProtocol Protocol() const { return m_address.protocol; }
    SocketHandle Socket() const { return m_socket; }

    // RFC 2217: sends the speed, data bits, parity, stop bits and no flow control, and waits by
    // `deadline` until the server has confirmed each as asked. False with the reason when it
    // refuses one, answers another value, does not answer or goes away. Raw TCP: true at once,
    // since the server keeps the line as it was set there.
    bool SetLine(const LineSettings& line, Clock::time_point deadline, std::string& reason);
    // Drops whatever has arrived and not been read. RFC 2217: also has the server purge both of
    // its queues, and drops what arrives until it confirms, by `deadline` at most.
    void Purge(Clock::time_point deadline);
    // RFC 2217: DTR and RTS through SET-CONTROL, not waiting for an answer. Raw TCP has no modem
    // lines: nothing happens.
    void SetDtr(bool bOn);
    void SetRts(bool bOn);

    // Takes all count bytes into the queue and sends what the socket takes now: count,
    // kWriteWouldBlock while the queue is full, kDeviceGone once the connection is gone.
    int Send(const uint8_t* bytes, int count);
    // Waits at most timeoutUs for the queue to have room; true when it has.
    bool WaitWritable(int64_t timeoutUs);
    // Bytes of the queue the system has not taken yet (after trying once more).
    int Unsent();
    // Data that has arrived and not been read; kDeviceGone once the connection is gone and every
    // byte that came before has been read.
    int Available();
    // Up to count bytes of that data.
    int Take(uint8_t* buffer, int count);
    // Waits at most timeoutUs on the socket until data has arrived or the connection is gone
    // (true), answering the server's negotiation meanwhile; false when the time ran out.
    bool WaitReadable(int64_t timeoutUs);
    bool IsGone() const { return m_bGone; }

private:
    CNetworkLink(const NetworkAddress& address, SocketHandle socket);

    // Reads what the socket holds, decodes it and sends the negotiation's answers.
    void Pump();
    void Flush();
    void Queue(const std::vector<uint8_t>& bytes);
    // Pumps until `done` or the deadline; false when the deadline passed or the link went.
    template <typename Done> bool PumpUntil(Done done, Clock::time_point deadline);
    // What the server said before it closed: its text on a refusal ("device already in use").
    std::string ClosingWords() const;

    NetworkAddress m_address;
    SocketHandle m_socket = kNoSocket;
    CTelnetCodec m_telnet;
    std::vector<uint8_t> m_out;             // encoded bytes the socket has not taken yet
    std::vector<uint8_t> m_in;              // data received and not read
    std::vector<ComPortMessage> m_messages; // COM-port answers not looked at yet
    bool m_bGone = false;
};
