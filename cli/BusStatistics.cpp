#include "cli/BusStatistics.h"

#include <string>

#include "protocol/Address.h"

namespace {

constexpr int64_t kStepUs = 100;

size_t StatusSlot(ReplyStatus status) {
    return static_cast<size_t>(status);
}

std::string StepMs(int64_t steps) {
    return std::to_string(steps / 10) + "." + std::to_string(steps % 10);
}

} // namespace

void CBusStatistics::Count(int address, ReplyStatus status, std::chrono::microseconds elapsed) {
    if (!IsAddress(address)) {
        return;
    }
    Meter& meter = m_aMeters[static_cast<size_t>(address)];
    meter.requests += status == ReplyStatus::NoDevice ? 0 : 1;
    ++meter.byStatus[StatusSlot(status)];
    if (status == ReplyStatus::Ok) {
        ++meter.replySteps[(elapsed.count() + kStepUs / 2) / kStepUs];
    }
}

void CBusStatistics::CountLate(int address, ReplyStatus was, std::chrono::microseconds elapsed) {
    if (!IsAddress(address) || was == ReplyStatus::Ok || was == ReplyStatus::NoDevice) {
        return;
    }
    Meter& meter = m_aMeters[static_cast<size_t>(address)];
    int64_t& counted = meter.byStatus[StatusSlot(was)];
    if (counted == 0) {
        return;
    }
    --counted;
    ++meter.byStatus[StatusSlot(ReplyStatus::Ok)];
    ++meter.replySteps[(elapsed.count() + kStepUs / 2) / kStepUs];
}

void CBusStatistics::Print(FILE* err) const {
    bool bHeader = false;
    for (size_t address = 0; address < m_aMeters.size(); ++address) {
        const Meter& m = m_aMeters[address];
        const int64_t nodevice = m.byStatus[StatusSlot(ReplyStatus::NoDevice)];
        if (m.requests == 0 && nodevice == 0) {
            continue;
        }
        if (!bHeader) {
            std::fprintf(err, "qd7-bus: statistics per meter\n");
            std::fprintf(err, "address  requests      ok  silent  corrupt  rejected  nodevice  "
                              "loss %%  reply ms min/median/max\n");
            bHeader = true;
        }
        const int64_t ok = m.byStatus[StatusSlot(ReplyStatus::Ok)];
        // Per mille, rounded, so the per cent has one exact decimal place; none without a request.
        std::string loss = "-";
        if (m.requests > 0) {
            const int64_t lossPerMille = ((m.requests - ok) * 1000 + m.requests / 2) / m.requests;
            loss = std::to_string(lossPerMille / 10) + "." + std::to_string(lossPerMille % 10);
        }
        std::string times = "-";
        if (!m.replySteps.empty()) {
            // The median: the reply at the middle of the counted ones (the lower middle of an even
            // count).
            const int64_t middle = (ok - 1) / 2;
            int64_t seen = 0;
            int64_t median = m.replySteps.begin()->first;
            for (const auto& [steps, count] : m.replySteps) {
                if (seen + count > middle) {
                    median = steps;
                    break;
                }
                seen += count;
            }
            times = StepMs(m.replySteps.begin()->first) + "/" + StepMs(median) + "/" +
                    StepMs(m.replySteps.rbegin()->first);
        }
        std::fprintf(err, "%-7s  %8lld  %6lld  %6lld  %7lld  %8lld  %8lld  %6s  %s\n",
                     FormatAddress(static_cast<int>(address)).c_str(),
                     static_cast<long long>(m.requests), static_cast<long long>(ok),
                     static_cast<long long>(m.byStatus[StatusSlot(ReplyStatus::Silent)]),
                     static_cast<long long>(m.byStatus[StatusSlot(ReplyStatus::Corrupt)]),
                     static_cast<long long>(m.byStatus[StatusSlot(ReplyStatus::Rejected)]),
                     static_cast<long long>(nodevice), loss.c_str(), times.c_str());
    }
    std::fflush(err);
}
