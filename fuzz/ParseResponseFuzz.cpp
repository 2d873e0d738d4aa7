// Any bytes, any length: the reply parser must not read past `length`, and an accepted reply must
// satisfy the invariants the window relies on.
//
// A random reply almost never carries a CRC that matches it, so on its own the fuzzer would stay
// in the first check. Every input is therefore parsed twice: as it came, and with its CRC byte
// recomputed, which takes the mutations on to the frame checks and the value decoding.
#include "protocol/Crc8.h"
#include "protocol/FrameCodec.h"

#include <cstdlib>
#include <vector>

namespace {

void Check(const std::vector<uint8_t>& bytes) {
    const auto r = ParseResponseFrame(bytes.data(), static_cast<int>(bytes.size()));
    if (r.status == ResponseStatus::ResponseOk) {
        if (r.address < 0 || r.address >= kAddressCount || r.registerIndex < 0 ||
            r.registerIndex >= kRegisterCount) {
            std::abort();
        }
        if (FormatValueText(r.value, r.decimals).size() > kMaxDisplayText) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so ASan catches any read beyond the bytes received.
    std::vector<uint8_t> bytes(data, data + size);
    Check(bytes);
    if (bytes.size() >= kMinResponseLength) {
        bytes[kResponseCrcOffset] = Crc8(bytes.data() + kResponseCrcFirst, kResponseCrcLength);
        if (ParseResponseFrame(bytes.data(), static_cast<int>(bytes.size())).status ==
            ResponseStatus::ResponseCorrupt) {
            std::abort(); // long enough and its CRC right: refused, perhaps, but not corrupt
        }
        Check(bytes);
    }
    return 0;
}
