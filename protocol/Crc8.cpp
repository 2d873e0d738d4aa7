#include "protocol/Crc8.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::array<uint8_t, 256> MakeCrc8Table() {
    std::array<uint8_t, 256> table{};
    for (int i = 0; i < 256; ++i) {
        auto crc = static_cast<uint8_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) ? static_cast<uint8_t>((crc >> 1) ^ 0x8CU)
                             : static_cast<uint8_t>(crc >> 1);
        }
        table[static_cast<std::size_t>(i)] = crc;
    }
    return table;
}

constexpr std::array<uint8_t, 256> kCrc8Table = MakeCrc8Table();
static_assert(kCrc8Table[1] == 0x5E && kCrc8Table[255] == 0x35, "CRC-8/MAXIM table");

} // namespace

uint8_t Crc8(const uint8_t* data, int length) {
    if (data == nullptr || length < 1) {
        return 0;
    }
    uint8_t crc = 0;
    for (int i = 0; i < length; ++i) {
        crc = kCrc8Table[static_cast<uint8_t>(crc ^ data[i])];
    }
    return crc;
}
