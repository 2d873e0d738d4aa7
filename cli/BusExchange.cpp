#include "cli/BusExchange.h"

#include <algorithm>
#include <array>
#include <thread>

#include "serial/SerialPort.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the port is asked for bytes while a reply is awaited: a reply is seen at most this
// late, which is a few characters' time at the highest speeds and nothing beside the timeout.
constexpr std::chrono::microseconds kPollInterval{1000};
// The longest single sleep, so that a stop request is seen soon whatever the wait.
constexpr std::chrono::milliseconds kMaxSleep{20};
// The bus stays quiet this many character times after a reply before the next request, so that a
// meter whose transmitter lingers after its last byte has let go of the bus.
constexpr int kIdleGapCharacters = 4;
constexpr size_t kReadChunk = 256;

} // namespace

CBusExchange::CBusExchange(CSerialPort& port, std::chrono::milliseconds timeout,
                           std::chrono::microseconds characterTime, const std::atomic<bool>& stop)
    : m_port(port), m_timeout(timeout), m_idleGap(characterTime * kIdleGapCharacters),
      m_stop(stop) {}

bool CBusExchange::SleepUntil(SteadyClock::time_point until) const {
    while (!StopRequested()) {
        const auto now = SteadyClock::now();
        if (now >= until) {
            return true;
        }
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(until - now, kMaxSleep));
    }
    return false;
}

void CBusExchange::Drain() {
    std::array<uint8_t, kReadChunk> chunk{};
    while (m_port.Read(chunk.data(), static_cast<int>(chunk.size())) > 0) {
    }
}

ExchangeResult CBusExchange::Run(const FrameBuffer& frame, const ReplyExpectation& expectation) {
    ExchangeResult result;
    if (!SleepUntil(m_tLastReceived + m_idleGap)) {
        result.bStopped = true;
        return result;
    }
    // What is waiting now belongs to no request of ours: a late reply or noise.
    Drain();
    CReplyFinder finder(expectation);
    result.time = std::chrono::system_clock::now();
    const auto deadline = SteadyClock::now() + m_timeout;
    m_port.Write(frame.data(), kWireFrameLength);

    std::array<uint8_t, kReadChunk> chunk{};
    for (;;) {
        int n = 0;
        while (!finder.Found() &&
               (n = m_port.Read(chunk.data(), static_cast<int>(chunk.size()))) > 0) {
            finder.Feed(chunk.data(), static_cast<size_t>(n));
            m_tLastReceived = SteadyClock::now();
        }
        if (finder.Found()) {
            break;
        }
        if (StopRequested()) {
            result.bStopped = true;
            return result;
        }
        const auto now = SteadyClock::now();
        if (now >= deadline) {
            break;
        }
        std::this_thread::sleep_for(std::min<SteadyClock::duration>(deadline - now, kPollInterval));
    }
    result.status = finder.Status();
    result.reply = finder.Reply();
    result.raw = finder.Raw();
    return result;
}
