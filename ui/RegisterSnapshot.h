#pragma once

#include <array>
#include <cstdint>

// The eleven registers of one meter, filled in place by a full read-out. `address` is that of the
// last accepted reply; without one it keeps what the caller put there.
struct RegisterSnapshot {
    int16_t address = 0;
    std::array<float, 11> values{};
};
