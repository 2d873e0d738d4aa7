#include "sim/RequestScanner.h"

#include <algorithm>

#include "protocol/FrameCodec.h"

namespace {

constexpr size_t kEtxOffset = 1 + kFrameBodyLength;
constexpr size_t kCrcOffsetInFrame = kEtxOffset + 1;
constexpr size_t kScannedFrameLength = kCrcOffsetInFrame + 1; // STX body ETX CRC

} // namespace

void CRequestScanner::Push(std::span<const uint8_t> bytes) {
    m_vecPending.insert(m_vecPending.end(), bytes.begin(), bytes.end());
}

std::optional<ScannedFrame> CRequestScanner::Next() {
    const auto stx = std::find(m_vecPending.begin(), m_vecPending.end(), kStx);
    m_vecPending.erase(m_vecPending.begin(), stx);
    if (m_vecPending.size() < kScannedFrameLength) {
        return std::nullopt;
    }
    ScannedFrame frame;
    frame.body.assign(m_vecPending.begin() + 1, m_vecPending.begin() + kEtxOffset);
    frame.bValid =
        m_vecPending[kEtxOffset] == kEtx &&
        Crc8(m_vecPending.data() + 1, kFrameBodyLength + 1) == m_vecPending[kCrcOffsetInFrame];
    const size_t consumed = frame.bValid ? kScannedFrameLength : 1;
    m_vecPending.erase(m_vecPending.begin(), m_vecPending.begin() + consumed);
    return frame;
}
