// The request frame written field by field against the printf formatting it replaces, for any
// address, command, bank, register and value (NaN, infinities and out-of-range values included):
// the same frame byte for byte, or nothing built by either.
#include "protocol/FrameCodec.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the body was before: the printf family, kept here only as the yardstick.
std::optional<FrameBuffer> ReferenceFrame(int address, int command, int bank, int reg,
                                          double value) {
    if (address < 0 || address >= kAddressCount || command < 0 ||
        command >= static_cast<int>(CommandTable.size()) || bank < 0 || bank > 9 || reg < 0 ||
        reg >= kRegisterCount || !std::isfinite(value) || std::fabs(value) >= 999999.5) {
        return std::nullopt;
    }
    std::array<char, 64> body{};
    const int n = std::snprintf(body.data(), body.size(), "%02d%.2s%1d%.2s%+07.0f0", address,
                                CommandTable[static_cast<size_t>(command)].data(), bank,
                                RegisterCodeTable[static_cast<size_t>(reg)].data(), value);
    if (n != kFrameBodyLength) {
        std::abort(); // the yardstick itself must give 15 characters for every accepted value
    }
    FrameBuffer frame{};
    frame.fill(kFill);
    frame[0] = kStx;
    std::memcpy(frame.data() + 1, body.data(), kFrameBodyLength);
    frame[16] = kEtx;
    frame[18] = 0x00;
    frame[kCrcOffset] = Crc8(frame.data() + 1, 16);
    return frame;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr size_t kNeeded = 4 + sizeof(double);
    if (size < kNeeded) {
        return 0;
    }
    // Small signed numbers around each range, so that both edges of every check are reached.
    const int address = static_cast<int8_t>(data[0]);
    const int command = static_cast<int8_t>(data[1]) % 8;
    const int bank = static_cast<int8_t>(data[2]) % 16;
    const int reg = static_cast<int8_t>(data[3]) % 16;
    double value = 0.0;
    std::memcpy(&value, data + 4, sizeof value);
    // Half the inputs take a value within the allowed range, where rounding matters most.
    if (size > kNeeded && (data[kNeeded] & 1U) != 0 && std::isfinite(value)) {
        value = std::fmod(value, 1'000'000.0);
    }

    FrameBuffer frame{};
    frame.fill(0xA5);
    const std::optional<uint8_t> crc = BuildRequestFrame(frame, address, command, bank, reg, value);
    const std::optional<FrameBuffer> expected = ReferenceFrame(address, command, bank, reg, value);
    if (crc.has_value() != expected.has_value()) {
        std::abort();
    }
    if (expected && (frame != *expected || *crc != (*expected)[kCrcOffset])) {
        std::abort();
    }
    return 0;
}
