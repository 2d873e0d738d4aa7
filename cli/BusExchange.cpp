#include "cli/BusExchange.h"

#include <algorithm>
#include <thread>
#include <utility>

#include "cli/BusTrace.h"
#include "serial/SerialPort.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the port is asked for bytes while a reply is awaited: a reply is seen at most this
// late, which is a few characters' time at the highest speeds and nothing beside the timeout.
constexpr std::chrono::microseconds kPollInterval{1000};
// The longest single sleep between rounds, so that a stop request is seen within a tenth of a
// second whatever the wait; longer would be slow to stop, shorter wakes an idle watch for nothing
// (at 20 ms, a watch of 10 meters once a second used 0.3 % of a core).
constexpr std::chrono::milliseconds kMaxSleep{100};
// The bus stays quiet this many character times after a reply before the next request, so that a
// meter whose transmitter lingers after its last byte has let go of the bus.
constexpr int kIdleGapCharacters = 4;
constexpr size_t kReadChunk = 256;
// A failed request listens for its own reply this many timeouts from its start, and at least the
// minimum: long enough to catch a meter that is slow by a multiple of the timeout, short enough
// that a scan keeps only a handful of them.
constexpr int kLateWatchTimeouts = 10;
constexpr std::chrono::seconds kMinLateWatch{2};
// Beyond this many failed requests still listening, the oldest gives up first.
constexpr size_t kMaxOverdue = 128;

std::optional<size_t> AddressSlot(int address) {
    if (!IsAddress(address)) {
        return std::nullopt;
    }
    return static_cast<size_t>(address);
}

} // namespace

CBusExchange::CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                           std::chrono::microseconds characterTime, const std::atomic<bool>& stop)
    : m_port(port), m_timeout(timeout), m_idleGap(characterTime * kIdleGapCharacters),
      m_lateWatch(std::max<SteadyClock::duration>(timeout * kLateWatchTimeouts, kMinLateWatch)),
      m_stop(stop) {}

void CBusExchange::SetLateReplySink(std::function<void(const LateReply&)> sink) {
    m_fnLate = std::move(sink);
}

void CBusExchange::Reset() {
    m_aFailedAt.fill(std::nullopt);
    m_vecOverdue.clear();
    m_tLastReceived = {};
}

void CBusExchange::Sleep(SteadyClock::duration longest) const {
    // While a late reply is awaited, look often enough to tell when it came.
    const SteadyClock::duration step =
        m_vecOverdue.empty() ? SteadyClock::duration(kMaxSleep) : kPollInterval;
    std::this_thread::sleep_for(std::min(longest, step));
}

int CBusExchange::Listen() {
    std::array<uint8_t, kReadChunk> chunk{};
    int nTotal = 0;
    for (int n; (n = m_port.Read(chunk.data(), static_cast<int>(chunk.size()))) > 0;) {
        if (m_pTrace != nullptr) {
            m_pTrace->Received(chunk.data(), static_cast<size_t>(n));
        }
        HearLate(chunk.data(), static_cast<size_t>(n));
        nTotal += n;
    }
    const auto now = SteadyClock::now();
    if (nTotal > 0) {
        // Bytes that waited in the queue came at some time before now: the line was not quiet
        // until now, as far as anyone can tell.
        m_tLastReceived = now;
    }
    ExpireOverdue(now);
    return nTotal;
}

void CBusExchange::HearLate(const uint8_t* bytes, size_t count) {
    const auto now = SteadyClock::now();
    for (auto it = m_vecOverdue.begin(); it != m_vecOverdue.end();) {
        if (!it->finder.Feed(bytes, count)) {
            ++it;
            continue;
        }
        const LateReply late{
            it->address, std::chrono::duration_cast<std::chrono::milliseconds>(now - it->start)};
        it = m_vecOverdue.erase(it);
        if (m_fnLate) {
            m_fnLate(late);
        }
    }
}

void CBusExchange::ExpireOverdue(SteadyClock::time_point now) {
    std::erase_if(m_vecOverdue, [&](const Overdue& o) { return now - o.start > m_lateWatch; });
    if (m_vecOverdue.size() > kMaxOverdue) {
        m_vecOverdue.erase(m_vecOverdue.begin(),
                           m_vecOverdue.begin() +
                               static_cast<std::ptrdiff_t>(m_vecOverdue.size() - kMaxOverdue));
    }
}

bool CBusExchange::SleepUntil(SteadyClock::time_point until) {
    for (;;) {
        Listen();
        if (StopRequested()) {
            return false;
        }
        const auto now = SteadyClock::now();
        if (now >= until) {
            return true;
        }
        Sleep(until - now);
    }
}

bool CBusExchange::WaitQuiet(SteadyClock::time_point quietSince, bool bUntilClaimed) {
    // A line that never falls quiet (noise, a converter that echoes, another master) is waited for
    // no longer than a failed request listens for its reply: by then that reply cannot be told
    // from the rest anyway.
    const auto giveUp = SteadyClock::now() + m_lateWatch;
    for (;;) {
        Listen();
        quietSince = std::max(quietSince, m_tLastReceived);
        if (!m_port.IsOpen() || (bUntilClaimed && m_vecOverdue.empty())) {
            return true;
        }
        if (StopRequested()) {
            return false;
        }
        const auto until = std::min(quietSince + m_timeout, giveUp);
        const auto now = SteadyClock::now();
        if (now >= until) {
            return true;
        }
        Sleep(until - now);
    }
}

bool CBusExchange::AwaitLateReplies() {
    if (m_vecOverdue.empty()) {
        return !StopRequested();
    }
    SteadyClock::time_point lastFailure;
    for (const auto& failedAt : m_aFailedAt) {
        lastFailure = std::max(lastFailure, failedAt.value_or(SteadyClock::time_point{}));
    }
    return WaitQuiet(lastFailure, true);
}

ExchangeResult CBusExchange::Run(const FrameBuffer& frame, const ReplyExpectation& expectation) {
    ExchangeResult result;
    result.time = std::chrono::system_clock::now();
    if (!m_port.IsOpen()) {
        result.status = ReplyStatus::NoDevice;
        return result;
    }
    const std::optional<size_t> slot = AddressSlot(expectation.address);
    // After a failure this meter's reply may still come: let it come and go before asking again.
    if (slot && m_aFailedAt[*slot] && !WaitQuiet(*m_aFailedAt[*slot], false)) {
        result.bStopped = true;
        return result;
    }
    if (!SleepUntil(m_tLastReceived + m_idleGap)) {
        result.bStopped = true;
        return result;
    }
    // What is waiting now belongs to no request of ours: a late reply or noise.
    Listen();
    // An earlier request to this meter has had its chance: from here on its frames answer this one.
    std::erase_if(m_vecOverdue, [&](const Overdue& o) { return o.address == expectation.address; });
    if (!m_port.IsOpen()) {
        result.status = ReplyStatus::NoDevice;
        return result;
    }

    CReplyFinder finder(expectation);
    result.time = std::chrono::system_clock::now();
    const auto start = SteadyClock::now();
    const auto deadline = start + m_timeout;
    // Without a byte by then, nothing is on its way: a meter's first byte comes within the
    // turnaround margin after the request has left.
    const auto firstByteDeadline =
        m_firstByteLimit ? std::min<SteadyClock::time_point>(start + *m_firstByteLimit, deadline)
                         : deadline;
    if (m_pTrace != nullptr) {
        m_pTrace->Request(frame.data(), kWireFrameLength);
    }
    m_port.Write(frame.data(), kWireFrameLength);

    std::array<uint8_t, kReadChunk> chunk{};
    bool bAnyByte = false;
    for (;;) {
        int n = 0;
        while (!finder.Found() &&
               (n = m_port.Read(chunk.data(), static_cast<int>(chunk.size()))) > 0) {
            bAnyByte = true;
            if (m_pTrace != nullptr) {
                m_pTrace->Received(chunk.data(), static_cast<size_t>(n));
            }
            HearLate(chunk.data(), static_cast<size_t>(n));
            finder.Feed(chunk.data(), static_cast<size_t>(n));
            m_tLastReceived = SteadyClock::now();
        }
        if (!m_port.IsOpen()) {
            result.status = ReplyStatus::NoDevice;
            return result;
        }
        if (finder.Found()) {
            break;
        }
        if (StopRequested()) {
            result.bStopped = true;
            return result;
        }
        const auto now = SteadyClock::now();
        const auto until = bAnyByte ? deadline : firstByteDeadline;
        if (now >= until) {
            break;
        }
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(until - now, kPollInterval));
    }
    result.elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start);
    result.status = finder.Status();
    result.reply = finder.Reply();
    result.raw = finder.Raw();
    if (slot) {
        if (finder.Found()) {
            m_aFailedAt[*slot].reset();
        } else {
            m_aFailedAt[*slot] = SteadyClock::now();
            m_vecOverdue.push_back(Overdue{std::move(finder), expectation.address, start});
            ExpireOverdue(SteadyClock::now());
        }
    }
    if (m_pTrace != nullptr) {
        m_pTrace->Verdict(result.status, expectation.address, expectation.registerIndex,
                          result.elapsed);
    }
    return result;
}
