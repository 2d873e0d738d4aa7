#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "cli/ReplyFinder.h"
#include "protocol/FrameCodec.h"

class CSerialPort;

// One request and what came back.
struct ExchangeResult {
    std::chrono::system_clock::time_point time; // when the request went out
    ReplyStatus status = ReplyStatus::Silent;
    DecodedResponse reply; // meaningful with ReplyStatus::Ok
    std::vector<uint8_t> raw;
    bool bStopped = false; // a stop request cut the wait short: there is no verdict
};

// Request and reply on an open port: stale input is thrown away, the 35 bytes go out, and the
// bytes that come back are read until the reply has been found or the timeout, counted from the
// start of the request, has passed. A stop request (a signal) ends every wait within a few
// milliseconds.
class CBusExchange {
public:
    CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                 std::chrono::microseconds characterTime, const std::atomic<bool>& stop);

    ExchangeResult Run(const FrameBuffer& frame, const ReplyExpectation& expectation);

    bool StopRequested() const { return m_stop.load(); }
    // Waits until `until` on the steady clock; false when a stop request ended the wait.
    bool SleepUntil(std::chrono::steady_clock::time_point until) const;

private:
    void Drain();

    CSerialPort& m_port;
    std::chrono::milliseconds m_timeout;
    std::chrono::microseconds m_idleGap;
    const std::atomic<bool>& m_stop;
    std::chrono::steady_clock::time_point m_tLastReceived;
};
