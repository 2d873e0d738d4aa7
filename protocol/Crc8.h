#pragma once

#include <cstdint>

// CRC-8/MAXIM (Dallas 1-Wire): polynomial x^8 + x^5 + x^4 + 1 taken reflected (0x8C),
// initial value 0, no final XOR. Check value over "123456789" is 0xA1.
// No data or a length below 1 gives 0.
uint8_t Crc8(const uint8_t* data, int length);
