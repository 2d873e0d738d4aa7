// Frame codec costs per call. Run: build/default/bench/codec_bench
#include "protocol/FrameCodec.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

// The textbook bit-by-bit CRC-8/MAXIM, kept here as the yardstick for the table-driven one.
uint8_t Crc8Bitwise(const uint8_t* data, int length) {
    uint8_t crc = 0;
    for (int i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1U) ? static_cast<uint8_t>((crc >> 1) ^ 0x8CU)
                             : static_cast<uint8_t>(crc >> 1);
        }
    }
    return crc;
}

constexpr std::array<uint8_t, 16> kBody = {'0', '1', 'R', 'D', '0', 'P', '0', '+',
                                           '0', '0', '1', '2', '3', '4', '1', 0x03};

void BM_Crc8Table(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc8(kBody.data(), static_cast<int>(kBody.size())));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Crc8Table);

void BM_Crc8Bitwise(benchmark::State& state) {
    if (Crc8Bitwise(kBody.data(), 16) != Crc8(kBody.data(), 16)) {
        state.SkipWithError("bitwise reference disagrees with the table");
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(Crc8Bitwise(kBody.data(), static_cast<int>(kBody.size())));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Crc8Bitwise);

void BM_BuildRequestFrame(benchmark::State& state) {
    FrameBuffer frame{};
    int address = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(BuildRequestFrame(frame, address, 0, 1, 0, 0.0));
        benchmark::ClobberMemory();
        address = (address + 1) % 100;
    }
}
BENCHMARK(BM_BuildRequestFrame);

void BM_ParseResponseFrame(benchmark::State& state) {
    std::array<uint8_t, 19> reply{};
    reply[0] = kAck;
    reply[1] = kStx;
    for (size_t i = 0; i < kBody.size(); ++i) {
        reply[2 + i] = kBody[i];
    }
    reply[18] = Crc8(reply.data() + 2, 16);
    for (auto _ : state) {
        benchmark::DoNotOptimize(ParseResponseFrame(reply.data(), static_cast<int>(reply.size())));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_ParseResponseFrame);

void BM_FormatValueText(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(FormatValueText(-12.34F, 2));
    }
}
BENCHMARK(BM_FormatValueText);

} // namespace
