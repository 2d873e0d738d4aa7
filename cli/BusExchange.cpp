#include "cli/BusExchange.h"

#include <algorithm>
#include <string>
#include <thread>
#include <utility>

#include "cli/BusTrace.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "serial/SerialPort.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// The longest single wait, so that a stop request is seen within half a second whatever the wait.
// A signal ends a wait for input at once, unless it came just before the wait began or went to
// another thread (the MQTT client's); on Windows the console's handler runs on a thread of its own.
// Every wait is a wake-up, and an idle watch wakes twice a second for this.
constexpr std::chrono::milliseconds kMaxWait{500};
// The bus stays quiet this many character times after a reply before the next request, so that a
// meter whose transmitter lingers after its last byte has let go of the bus.
constexpr int kIdleGapCharacters = 4;
constexpr size_t kReadChunk = 256;

std::optional<size_t> AddressSlot(int address) {
    if (!IsAddress(address)) {
        return std::nullopt;
    }
    return static_cast<size_t>(address);
}

// A request that ended so may still be answered: nothing came, or a reply that could not be read
// (cut short by the timeout, or damaged while another frame may follow). A meter that rejected the
// request has answered it.
bool MayStillAnswer(ReplyStatus status) {
    return status == ReplyStatus::Silent || status == ReplyStatus::Corrupt;
}

} // namespace

CBusExchange::CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                           std::chrono::milliseconds replyWindow,
                           std::chrono::microseconds characterTime, const std::atomic<bool>& stop)
    : m_port(port), m_timeout(timeout), m_window(std::max(replyWindow, timeout)),
      m_idleGap(characterTime * kIdleGapCharacters), m_stop(stop) {}

void CBusExchange::SetLateReplySink(std::function<void(const LateReply&)> sink) {
    m_fnLate = std::move(sink);
}

void CBusExchange::Reset() {
    m_aOutstanding.fill(std::nullopt);
    m_tLastReceived = {};
}

int CBusExchange::Listen() {
    std::array<uint8_t, kReadChunk> chunk{};
    int nTotal = 0;
    for (int n; (n = m_port.Read(chunk.data(), static_cast<int>(chunk.size()))) > 0;) {
        if (m_pTrace != nullptr) {
            m_pTrace->Received(chunk.data(), static_cast<size_t>(n));
        }
        Hear(chunk.data(), static_cast<size_t>(n), SteadyClock::now());
        nTotal += n;
    }
    if (nTotal > 0) {
        // Bytes that waited in the queue came at some time before now: the line was not quiet
        // until now, as far as anyone can tell.
        m_tLastReceived = SteadyClock::now();
    }
    return nTotal;
}

void CBusExchange::Hear(const uint8_t* bytes, size_t count, SteadyClock::time_point arrival) {
    for (size_t slot = 0; slot < m_aOutstanding.size(); ++slot) {
        std::optional<Outstanding>& outstanding = m_aOutstanding[slot];
        if (!outstanding || !outstanding->finder.Feed(bytes, count)) {
            continue;
        }
        LateReply late;
        late.address = static_cast<int>(slot);
        late.nRequest = outstanding->nRequest;
        late.delay =
            std::chrono::duration_cast<std::chrono::milliseconds>(arrival - outstanding->start);
        late.bBeyondWindow = arrival > outstanding->windowEnd;
        late.reply = outstanding->finder.Reply();
        late.raw = outstanding->finder.Raw();
        outstanding.reset();
        if (m_pTrace != nullptr) {
            m_pTrace->Note(
                "late  " + FormatAddress(late.address) + " " +
                std::string(RegisterCodeTable[static_cast<size_t>(late.reply.registerIndex)]) +
                " in " + std::to_string(late.delay.count()) + " ms" +
                (late.bBeyondWindow ? ", beyond its reply window" : ""));
        }
        if (m_fnLate) {
            m_fnLate(late);
        }
    }
}

void CBusExchange::WaitForInput(SteadyClock::time_point until) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(
        std::min<SteadyClock::duration>(until - SteadyClock::now(), kMaxWait));
    if (left.count() <= 0) {
        return;
    }
    if (m_port.IsOpen()) {
        m_port.WaitForInput(left);
    } else {
        std::this_thread::sleep_for(left); // nothing to listen to: the device is gone
    }
}

bool CBusExchange::ListenUntil(SteadyClock::time_point until, const std::function<bool()>& done) {
    for (;;) {
        Listen();
        if (done()) {
            return true;
        }
        if (StopRequested()) {
            return false;
        }
        if (SteadyClock::now() >= until) {
            return true;
        }
        WaitForInput(until);
    }
}

bool CBusExchange::SleepUntil(SteadyClock::time_point until) {
    return ListenUntil(until, [] { return false; });
}

bool CBusExchange::Awaits(int address) const {
    const std::optional<size_t> slot = AddressSlot(address);
    return slot && m_aOutstanding[*slot] && SteadyClock::now() < m_aOutstanding[*slot]->windowEnd;
}

bool CBusExchange::AnyOutstanding() const {
    return std::any_of(
        m_aOutstanding.begin(), m_aOutstanding.end(),
        [](const std::optional<Outstanding>& outstanding) { return outstanding.has_value(); });
}

bool CBusExchange::AwaitsReplyTo(uint64_t nRequest) const {
    const auto now = SteadyClock::now();
    return std::any_of(m_aOutstanding.begin(), m_aOutstanding.end(),
                       [&](const std::optional<Outstanding>& outstanding) {
                           return outstanding && outstanding->nRequest == nRequest &&
                                  now < outstanding->windowEnd;
                       });
}

bool CBusExchange::AwaitReply(int address) {
    const std::optional<size_t> slot = AddressSlot(address);
    if (!slot || !Awaits(address)) {
        return !StopRequested();
    }
    if (m_pTrace != nullptr) {
        m_pTrace->Note("wait  " + FormatAddress(address) +
                       ": its reply to the last request may still come");
    }
    const auto windowEnd = m_aOutstanding[*slot]->windowEnd;
    return ListenUntil(windowEnd, [&] { return !m_aOutstanding[*slot] || !m_port.IsOpen(); });
}

bool CBusExchange::AwaitLateReplies() {
    SteadyClock::time_point last;
    for (const std::optional<Outstanding>& outstanding : m_aOutstanding) {
        if (outstanding) {
            last = std::max(last, outstanding->windowEnd);
        }
    }
    const auto anyAwaited = [this] {
        for (int address = 0; address < kAddressCount; ++address) {
            if (Awaits(address)) {
                return true;
            }
        }
        return false;
    };
    return ListenUntil(last, [&] { return !anyAwaited() || !m_port.IsOpen(); });
}

ExchangeResult CBusExchange::Run(const FrameBuffer& frame, const ReplyExpectation& expectation) {
    ExchangeResult result;
    result.time = std::chrono::system_clock::now();
    if (!m_port.IsOpen()) {
        result.status = ReplyStatus::NoDevice;
        return result;
    }
    const std::optional<size_t> slot = AddressSlot(expectation.address);
    // The meter's reply to its last request may still come: let it come, or its window pass.
    if (!AwaitReply(expectation.address) ||
        !ListenUntil(m_tLastReceived + m_idleGap, [] { return false; })) {
        result.bStopped = true;
        return result;
    }
    if (!m_port.IsOpen()) {
        result.status = ReplyStatus::NoDevice;
        return result;
    }
    // From here on the meter's frames answer this request: one later than its window is outside
    // what the protocol allows, and can no longer be told from this request's reply.
    if (slot) {
        m_aOutstanding[*slot].reset();
    }

    CReplyFinder finder(expectation);
    const uint64_t nRequest = ++m_nRequests;
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
    // While a late reply may come, the write notes when input comes, so that such a reply is
    // timed by its arrival, not by the end of the write. Otherwise what is there once the write
    // is done came while it went out (as on a pseudo-terminal or a four-wire line): the bus has
    // been quiet since, as far as the pause after a reply goes, and the watch would only cost a
    // wake-up more for every reply that comes so soon.
    const bool bWatch = AnyOutstanding();
    m_port.SetWatchInputDuringWrite(bWatch);
    m_port.Write(frame.data(), kWireFrameLength);
    std::optional<SteadyClock::time_point> cameDuringWrite = start;
    if (bWatch) {
        const auto before = m_port.InputSeenBeforeWriteEnd();
        cameDuringWrite = before ? std::optional(SteadyClock::now() - *before) : std::nullopt;
    }

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
            const auto arrival = cameDuringWrite.value_or(SteadyClock::now());
            cameDuringWrite.reset();
            Hear(chunk.data(), static_cast<size_t>(n), arrival);
            finder.Feed(chunk.data(), static_cast<size_t>(n));
            m_tLastReceived = arrival;
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
        const auto until = bAnyByte ? deadline : firstByteDeadline;
        if (SteadyClock::now() >= until) {
            break;
        }
        WaitForInput(until);
    }
    result.elapsed =
        std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - start);
    result.status = finder.Status();
    result.reply = finder.Reply();
    result.raw = finder.Raw();
    result.nRequest = nRequest;
    if (m_pTrace != nullptr) {
        m_pTrace->Verdict(result.status, expectation.address, expectation.registerIndex,
                          result.elapsed);
    }
    if (slot && MayStillAnswer(result.status)) {
        m_aOutstanding[*slot] = Outstanding{std::move(finder), nRequest, start, start + m_window};
    }
    return result;
}
