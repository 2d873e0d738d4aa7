#include "cli/LineTiming.h"

#include <cstdint>

#include "protocol/FrameCodec.h"

int CharacterBits(int dataBits, int parity, int stopBits) {
    return 1 + dataBits + (parity != 0 ? 1 : 0) + (stopBits == 2 ? 2 : 1);
}

std::chrono::microseconds LineTime(int characters, int speed, int dataBits, int parity,
                                   int stopBits) {
    if (speed <= 0 || characters <= 0) {
        return std::chrono::microseconds{0};
    }
    const int64_t nBits = int64_t{characters} * CharacterBits(dataBits, parity, stopBits);
    return std::chrono::microseconds{(nBits * 1'000'000 + speed - 1) / speed};
}

std::chrono::milliseconds DefaultReplyTimeout(int speed, int dataBits, int parity, int stopBits) {
    const std::chrono::microseconds onLine =
        LineTime(kWireFrameLength + kMinResponseLength, speed, dataBits, parity, stopBits);
    return std::chrono::ceil<std::chrono::milliseconds>(onLine) + kTurnaroundMargin;
}
