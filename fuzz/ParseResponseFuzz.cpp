// Any bytes, any length: the reply parser must not read past `length`, and an accepted reply must
// satisfy the invariants the window relies on.
#include "protocol/FrameCodec.h"

#include <cstdlib>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // An exact-size copy so ASan catches any read beyond the bytes received.
    const std::vector<uint8_t> bytes(data, data + size);
    const auto r = ParseResponseFrame(bytes.data(), static_cast<int>(bytes.size()));
    if (r.status == ResponseStatus::ResponseOk) {
        if (r.address < 0 || r.address > 99 || r.registerIndex < 0 || r.registerIndex > 10) {
            std::abort();
        }
        if (FormatValueText(r.value, r.decimals).size() > kMaxDisplayText) {
            std::abort();
        }
    }
    return 0;
}
