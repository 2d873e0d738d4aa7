#include "protocol/ReplyFinder.h"

#include <algorithm>

namespace {

// Bytes already judged are dropped once this many have piled up in front of the scan, so that a
// stream of noise cannot grow the buffer without end.
constexpr size_t kMaxSettled = 4096;
// What a silent verdict keeps of the bytes heard.
constexpr size_t kMaxHeard = kMaxResponseRead;
constexpr size_t kFrameLength = kMinResponseLength;

// A write's answer: WD, or else RD.
DecodedResponse ParseWriteReply(const uint8_t* frame) {
    const DecodedResponse decoded =
        ParseReplyFrame(frame, kMinResponseLength, kCommandWriteResponse);
    return decoded.status == ResponseStatus::ResponseRejected
               ? ParseResponseFrame(frame, kMinResponseLength)
               : decoded;
}

} // namespace

ReplyStatus ReplyStatusOf(ResponseStatus status) {
    switch (status) {
    case ResponseStatus::ResponseOk:
        return ReplyStatus::Ok;
    case ResponseStatus::ResponseCorrupt:
        return ReplyStatus::Corrupt;
    case ResponseStatus::ResponseRejected:
        break;
    }
    return ReplyStatus::Rejected;
}

CReplyFinder::CReplyFinder(const ReplyExpectation& expectation) : m_expect(expectation) {}

bool CReplyFinder::Feed(const uint8_t* bytes, size_t count) {
    if (Found() || bytes == nullptr || count == 0) {
        return Found();
    }
    const size_t nHeard = std::min(count, kMaxHeard - std::min(m_vecHeard.size(), kMaxHeard));
    m_vecHeard.insert(m_vecHeard.end(), bytes, bytes + nHeard);
    m_vecBytes.insert(m_vecBytes.end(), bytes, bytes + count);
    Scan();
    if (m_nScan > kMaxSettled) {
        m_vecBytes.erase(m_vecBytes.begin(), m_vecBytes.begin() + static_cast<long>(m_nScan));
        m_nScan = 0;
    }
    return Found();
}

void CReplyFinder::Scan() {
    while (!Found() && m_nScan + 1 < m_vecBytes.size()) {
        if (m_vecBytes[m_nScan] != kAck || m_vecBytes[m_nScan + 1] != kStx) {
            ++m_nScan;
            continue;
        }
        if (m_vecBytes.size() - m_nScan < kFrameLength) {
            return; // a reply start: wait for the rest
        }
        Judge();
        if (!Found()) {
            ++m_nScan; // a reply may begin inside what was refused
        }
    }
}

void CReplyFinder::Judge() {
    const uint8_t* frame = m_vecBytes.data() + m_nScan;
    const std::vector<uint8_t> bytes(frame, frame + kFrameLength);
    const DecodedResponse decoded =
        m_expect.bWrite ? ParseWriteReply(frame) : ParseResponseFrame(frame, kMinResponseLength);
    ReplyStatus verdict = ReplyStatusOf(decoded.status);
    if (verdict == ReplyStatus::Corrupt) {
        if (m_status == ReplyStatus::Silent || m_status == ReplyStatus::Corrupt) {
            m_status = ReplyStatus::Corrupt;
            m_vecRaw = bytes;
        }
        return;
    }
    // The CRC holds. Only a frame that names this meter says anything about it.
    if (ReplyAddress(frame[2], frame[3]) != m_expect.address) {
        return;
    }
    if (verdict == ReplyStatus::Ok &&
        ((m_expect.bank >= 0 && decoded.bank != m_expect.bank) ||
         (m_expect.registerIndex >= 0 && decoded.registerIndex != m_expect.registerIndex))) {
        verdict = ReplyStatus::Rejected;
    }
    m_status = verdict;
    m_vecRaw = bytes;
    if (verdict == ReplyStatus::Ok) {
        m_reply = decoded;
    }
}

ReplyStatus CReplyFinder::Status() const {
    if (m_status == ReplyStatus::Silent && m_nScan + 1 < m_vecBytes.size()) {
        return ReplyStatus::Corrupt; // a reply start that never came whole
    }
    return m_status;
}

std::vector<uint8_t> CReplyFinder::Raw() const {
    if (m_status != ReplyStatus::Silent) {
        return m_vecRaw;
    }
    if (m_nScan + 1 < m_vecBytes.size()) {
        return {m_vecBytes.begin() + static_cast<long>(m_nScan), m_vecBytes.end()};
    }
    return m_vecHeard;
}
