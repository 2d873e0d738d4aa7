#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "protocol/FrameCodec.h"
#include "protocol/ReplyFinder.h"

class CBusTrace;
class CSerialPort;

// One request and what came back.
struct ExchangeResult {
    std::chrono::system_clock::time_point time; // when the request went out
    ReplyStatus status = ReplyStatus::Silent;
    DecodedResponse reply; // meaningful with ReplyStatus::Ok
    std::vector<uint8_t> raw;
    bool bStopped = false;                // a stop request cut the wait short: there is no verdict
    std::chrono::microseconds elapsed{0}; // from the start of the request to its reply or end
    uint64_t nRequest = 0; // the request's number, which a late reply to it names; 0: none went out
};

// A reply that came after its request's exchange had ended without it. It was taken for no other
// request's; this is what a user needs to set a timeout that waits for it.
struct LateReply {
    int address = 0;
    uint64_t nRequest = 0;              // the request it answers (ExchangeResult::nRequest)
    std::chrono::milliseconds delay{0}; // from the start of that request to the reply's arrival
    bool bBeyondWindow = false;         // it came after the meter's reply window had passed
    DecodedResponse reply;              // the reply, as its request asked for it
    std::vector<uint8_t> raw;
};

// Request and reply on an open port: stale input is thrown away, the 35 bytes go out, and the
// bytes that come back are read as they arrive (the port's wait for input, never a sleep) until the
// reply has been found or the timeout, counted from the start of the request, has passed. A stop
// request (a signal) ends every wait, at the latest within half a second.
//
// A reply belongs to its request. The response frame names a meter, a bank and a register, but
// not the request it answers, and a meter may answer long after our timeout: the window program
// reads a reply 700 ms after its request. So a meter is never asked again while its reply to the
// last request may still come: after an exchange that ended without the reply, the next request to
// that meter waits until the reply has come (it is then handed to the late-reply sink) or the
// meter's reply window, counted from the request, has passed. Requests to other meters go at once:
// a late reply names its meter and is taken for no other's, wherever it arrives.
class CBusExchange {
public:
    // `replyWindow` is the time after a request within which its reply may still come; it is
    // never shorter than the timeout.
    CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                 std::chrono::milliseconds replyWindow, std::chrono::microseconds characterTime,
                 const std::atomic<bool>& stop);

    // Where late replies go, as they are found.
    void SetLateReplySink(std::function<void(const LateReply&)> sink);
    // Every request and every byte received go to the trace as well (-v); none by default.
    void SetTrace(CBusTrace* pTrace) { m_pTrace = pTrace; }
    // A request to which no byte at all has come by `limit` from its start is silent at once;
    // once a byte has come, the reply gets the whole timeout. Unset (the default), every request
    // waits the whole timeout. A meter that answers after the limit is still heard as a late reply.
    void SetFirstByteLimit(std::optional<std::chrono::microseconds> limit) {
        m_firstByteLimit = limit;
    }

    // ReplyStatus::NoDevice when the port is closed or its device went away during the exchange.
    ExchangeResult Run(const FrameBuffer& frame, const ReplyExpectation& expectation);

    bool StopRequested() const { return m_stop.load(); }
    // Waits until `until` on the steady clock, listening to the line meanwhile so that a late
    // reply is seen when it comes; false when a stop request ended the wait.
    bool SleepUntil(std::chrono::steady_clock::time_point until);
    // True while the reply to the last request to `address` may still come: that exchange ended
    // without it, and neither has it come since nor has the meter's reply window passed.
    bool Awaits(int address) const;
    // The same for the request numbered `nRequest` (ExchangeResult::nRequest): false once another
    // request has gone to that meter.
    bool AwaitsReplyTo(uint64_t nRequest) const;
    // Listens until Awaits(address) no longer holds; false when a stop request ended the wait.
    bool AwaitReply(int address);
    // Before the program ends: listens until no reply may still come. False when a stop request
    // ended the wait.
    bool AwaitLateReplies();
    // Forgets every request: after the device was opened again, nothing of before can come.
    void Reset();

private:
    using SteadyClock = std::chrono::steady_clock;

    // A request whose exchange ended without its reply, still listening for it.
    struct Outstanding {
        CReplyFinder finder;
        uint64_t nRequest = 0;
        SteadyClock::time_point start;
        SteadyClock::time_point windowEnd;
    };

    bool AnyOutstanding() const;
    // Reads everything waiting and hands it to the outstanding requests; the number read.
    int Listen();
    // `arrival`: when the bytes came, as far as can be told.
    void Hear(const uint8_t* bytes, size_t count, SteadyClock::time_point arrival);
    // Listens until `until` or until `done()`; with the port closed (a device gone) it only
    // waits. False when a stop request ended it.
    bool ListenUntil(SteadyClock::time_point until, const std::function<bool()>& done);
    // Waits for input at most until `until`, and at most half a second, so that a stop request
    // is seen.
    void WaitForInput(SteadyClock::time_point until);

    CSerialPort& m_port;
    std::chrono::milliseconds m_timeout;
    std::chrono::milliseconds m_window;
    std::chrono::microseconds m_idleGap;
    const std::atomic<bool>& m_stop;
    std::function<void(const LateReply&)> m_fnLate;
    SteadyClock::time_point m_tLastReceived;
    uint64_t m_nRequests = 0;
    // Per address: the last request, when it ended without its reply; kept past its window, so
    // that a reply later still is named as such, until the next request to that meter.
    std::array<std::optional<Outstanding>, kAddressCount> m_aOutstanding;
    CBusTrace* m_pTrace = nullptr;
    std::optional<std::chrono::microseconds> m_firstByteLimit;
};
