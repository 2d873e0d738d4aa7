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
};

// A reply that reached us after its request had timed out. It was not taken for any other
// request's; this is what a user needs to set a timeout that waits for it.
struct LateReply {
    int address = 0;
    std::chrono::milliseconds delay{0}; // from the start of its request to its arrival
};

// Request and reply on an open port: stale input is thrown away, the 35 bytes go out, and the
// bytes that come back are read until the reply has been found or the timeout, counted from the
// start of the request, has passed. A stop request (a signal) ends every wait within a few
// milliseconds.
//
// A reply belongs to its request. A meter that missed its timeout may still answer, and its reply
// would then match the next request to it for address, bank and register. So after a failed
// exchange the next request to that meter first waits until the line has been quiet for one
// timeout, throwing away what comes; requests to other meters go at once, since a late reply names
// its meter and is never taken for another's. Every failed request keeps listening for its own
// reply for a while (everything read goes past it), and when it comes it is handed to the
// late-reply sink instead of being lost without a word.
class CBusExchange {
public:
    CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                 std::chrono::microseconds characterTime, const std::atomic<bool>& stop);

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
    // Before the program ends: while a failed request's reply may still be on its way, listens
    // until the line has been quiet for one timeout. Returns at once when every request was
    // answered. False when a stop request ended the wait.
    bool AwaitLateReplies();
    // Forgets every failed request: after the device was opened again, nothing of before can come.
    void Reset();

private:
    using SteadyClock = std::chrono::steady_clock;

    // A request that timed out, still listening for its own reply.
    struct Overdue {
        CReplyFinder finder;
        int address = 0;
        SteadyClock::time_point start;
    };

    // Reads everything waiting and hands it to the overdue requests; the number of bytes read.
    int Listen();
    void HearLate(const uint8_t* bytes, size_t count);
    void ExpireOverdue(SteadyClock::time_point now);
    // Listens until the line has been quiet for one timeout since `quietSince` (or since the last
    // byte, when later), for at most m_lateWatch; with bUntilClaimed it also ends once no overdue
    // request is left. True unless a stop request ended it; the port may have been lost meanwhile.
    bool WaitQuiet(SteadyClock::time_point quietSince, bool bUntilClaimed);
    void Sleep(SteadyClock::duration longest) const;

    CSerialPort& m_port;
    std::chrono::milliseconds m_timeout;
    std::chrono::microseconds m_idleGap;
    SteadyClock::duration m_lateWatch; // how long a failed request listens for its reply
    const std::atomic<bool>& m_stop;
    std::function<void(const LateReply&)> m_fnLate;
    SteadyClock::time_point m_tLastReceived;
    // Per address: when the last exchange with that meter failed; empty after an answer.
    std::array<std::optional<SteadyClock::time_point>, kAddressCount> m_aFailedAt;
    std::vector<Overdue> m_vecOverdue;
    CBusTrace* m_pTrace = nullptr;
    std::optional<std::chrono::microseconds> m_firstByteLimit;
};
