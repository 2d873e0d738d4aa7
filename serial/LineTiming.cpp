#include "serial/LineTiming.h"

#include <algorithm>

namespace {

constexpr int64_t kMinRtsGuardUs = 1'000;
constexpr int kRtsGuardCharacters = 2;

} // namespace

int CharacterBits(const LineSettings& settings) {
    const int nParityBits = settings.parity != 0 ? 1 : 0;
    const int nStopBits = settings.stopBits == 2 ? 2 : 1;
    return 1 + settings.dataBits + nParityBits + nStopBits;
}

int64_t LineTimeUs(const LineSettings& settings, int count) {
    if (settings.speed <= 0 || count <= 0) {
        return 0;
    }
    const int64_t nBits = int64_t{count} * CharacterBits(settings);
    return (nBits * 1'000'000 + settings.speed - 1) / settings.speed;
}

int64_t RtsGuardUs(const LineSettings& settings) {
    return std::max(kMinRtsGuardUs, LineTimeUs(settings, kRtsGuardCharacters));
}
