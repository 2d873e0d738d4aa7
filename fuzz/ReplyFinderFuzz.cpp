// The reply finder on any bytes, as they come off the line in any cutting.
//
// The first bytes of an input choose what was asked (address, bank or any, register or any) and
// how the rest is cut into reads; the rest is what came back. The same bytes fed whole and in
// pieces must give the same verdict, the same bytes behind it and the same reply: the verdict may
// not depend on how the driver happened to hand the bytes over. A reply found must be a whole
// reply with a good CRC, found in what was received, and carry the address, bank and register
// asked for: anything else would be a wrong reading shown as right.
//
// A random stream almost never holds a reply whose CRC matches, so each input is also run with the
// CRC of every reply start (ACK STX and 17 more bytes) made right, which takes the mutations on to
// the address, bank and register checks.
#include "protocol/Crc8.h"
#include "protocol/FrameCodec.h"
#include "protocol/ReplyFinder.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

namespace {

constexpr size_t kHeaderLength = 4; // address, bank, register, cutting
constexpr int kBankChoices = 3;     // any, 0, 1
constexpr int kRegisterChoices = kRegisterCount + 1;
constexpr size_t kMaxPiece = 32;

struct Verdict {
    ReplyStatus status;
    std::vector<uint8_t> raw;
    DecodedResponse reply;
};

Verdict Judge(const ReplyExpectation& expect, const std::vector<uint8_t>& bytes, uint8_t cutting) {
    CReplyFinder finder(expect);
    if (cutting == 0) {
        finder.Feed(bytes.data(), bytes.size());
    } else {
        // Piece sizes from a small generator seeded by the input: 1 to kMaxPiece bytes a read.
        uint32_t state = cutting;
        for (size_t at = 0; at < bytes.size();) {
            state = state * 1103515245U + 12345U;
            const size_t piece = std::min(bytes.size() - at, 1 + (state >> 16) % kMaxPiece);
            // An exact-size copy per read, so that ASan sees a read past what was fed.
            const std::vector<uint8_t> read(bytes.begin() + static_cast<long>(at),
                                            bytes.begin() + static_cast<long>(at + piece));
            finder.Feed(read.data(), read.size());
            at += piece;
        }
    }
    return {finder.Status(), finder.Raw(), finder.Reply()};
}

bool SameReply(const DecodedResponse& a, const DecodedResponse& b) {
    return a.status == b.status && a.address == b.address && a.bank == b.bank &&
           a.registerIndex == b.registerIndex && a.decimals == b.decimals && a.value == b.value;
}

void Check(const ReplyExpectation& expect, const std::vector<uint8_t>& bytes, uint8_t cutting) {
    const Verdict whole = Judge(expect, bytes, 0);
    const Verdict pieces = Judge(expect, bytes, static_cast<uint8_t>(cutting | 1U));
    if (whole.status != pieces.status || whole.raw != pieces.raw) {
        std::abort();
    }
    if (whole.status != ReplyStatus::Ok) {
        return;
    }
    if (!SameReply(whole.reply, pieces.reply)) {
        std::abort();
    }
    const std::vector<uint8_t>& raw = whole.raw;
    if (raw.size() != static_cast<size_t>(kMinResponseLength) ||
        std::search(bytes.begin(), bytes.end(), raw.begin(), raw.end()) == bytes.end()) {
        std::abort();
    }
    if (Crc8(raw.data() + kResponseCrcFirst, kResponseCrcLength) != raw[kResponseCrcOffset]) {
        std::abort();
    }
    const DecodedResponse& r = whole.reply;
    if (!SameReply(r, ParseResponseFrame(raw.data(), static_cast<int>(raw.size()))) ||
        r.status != ResponseStatus::ResponseOk || r.address != expect.address ||
        (expect.bank >= 0 && r.bank != expect.bank) ||
        (expect.registerIndex >= 0 && r.registerIndex != expect.registerIndex)) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kHeaderLength) {
        return 0;
    }
    ReplyExpectation expect;
    expect.address = data[0] % kAddressCount;
    expect.bank = data[1] % kBankChoices - 1;
    expect.registerIndex = data[2] % kRegisterChoices - 1;
    const uint8_t cutting = data[3];
    std::vector<uint8_t> bytes(data + kHeaderLength, data + size);
    Check(expect, bytes, cutting);

    bool bChanged = false;
    for (size_t i = 0; i + kMinResponseLength <= bytes.size(); ++i) {
        if (bytes[i] == kAck && bytes[i + 1] == kStx) {
            const uint8_t crc = Crc8(bytes.data() + i + kResponseCrcFirst, kResponseCrcLength);
            bChanged = bChanged || bytes[i + kResponseCrcOffset] != crc;
            bytes[i + kResponseCrcOffset] = crc;
        }
    }
    if (bChanged) {
        Check(expect, bytes, cutting);
    }
    return 0;
}
