// Arbitrary text of any length: the text frame must stay inside its buffer and keep its fixed
// CRC place, so that the 35 bytes on the wire are always well defined.
#include "protocol/FrameCodec.h"

#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    FrameBuffer frame{};
    const uint8_t crc = BuildTextFrame(frame, text);
    if (frame[0] != kStx || frame[kCrcOffset] != crc || crc != Crc8(frame.data() + 1, 16)) {
        std::abort();
    }
    const size_t kept = size < static_cast<size_t>(kMaxTextLength) ? size : kMaxTextLength;
    if (kept + 3 < frame.size() && frame[kept + 3] != 0x00 && kept + 3 != kCrcOffset) {
        std::abort(); // the terminator follows STX, text, ETX and the space
    }
    return 0;
}
