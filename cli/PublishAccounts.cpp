#include "cli/PublishAccounts.h"

namespace {

constexpr size_t kTopicsNamed = 3; // in the summary; the rest were said as they happened

std::string Readings(size_t n) {
    return std::to_string(n) + (n == 1 ? " reading" : " readings");
}

} // namespace

std::string CPublishAccounts::Refused(const std::string& topic, const std::string& reason,
                                      bool bReading) {
    const std::string key = topic + " (" + reason + ")";
    const auto [where, bFirst] = m_mapRefusedByTopic.try_emplace(key, 0);
    if (bReading) {
        ++m_nRefused;
        ++where->second;
    }
    if (!bFirst) {
        return {};
    }
    return "the broker refused " + topic + ": " + reason +
           (bReading ? "; its readings are counted as refused, not kept" : "");
}

std::string CPublishAccounts::Dropped(bool bConnected) {
    ++m_nDropped;
    if (m_nDroppedInRun++ > 0) {
        return {};
    }
    const std::string full = "the queue is full (" + Readings(m_nQueue) + ")";
    return bConnected ? "the broker takes readings slower than the bus gives them: " + full +
                            ", and the oldest are dropped"
                      : "the broker is away and " + full + ": the oldest are dropped";
}

std::string CPublishAccounts::Queued() {
    if (m_nDroppedInRun == 0) {
        return {};
    }
    const size_t n = m_nDroppedInRun;
    m_nDroppedInRun = 0;
    return Readings(n) + " dropped from the full queue; it has room again";
}

std::string CPublishAccounts::Summary(size_t nUnsent, size_t nSpooled,
                                      const std::string& spoolFile) const {
    std::string refused = std::to_string(m_nRefused) + " refused by the broker";
    size_t nNamed = 0;
    for (const auto& [key, count] : m_mapRefusedByTopic) {
        if (count == 0) {
            continue;
        }
        refused += (nNamed == 0 ? " (" : ", ") +
                   (nNamed < kTopicsNamed ? key + " " + std::to_string(count) : "...");
        if (++nNamed > kTopicsNamed) {
            break;
        }
    }
    refused += nNamed > 0 ? ")" : "";
    std::string left = std::to_string(nUnsent) + " not sent";
    if (!spoolFile.empty()) {
        left = std::to_string(nSpooled) + " kept in the spool " + spoolFile +
               " for the next start" + (nUnsent > 0 ? ", " + left : std::string());
    }
    return Readings(m_nSent) + " sent, " + refused + ", " + std::to_string(m_nDropped) +
           " dropped from the full queue, " + left;
}

bool CPublishAccounts::Incomplete(size_t nUnsent) const {
    return m_bTrouble || m_nRefused > 0 || m_nDropped > 0 || nUnsent > 0;
}
