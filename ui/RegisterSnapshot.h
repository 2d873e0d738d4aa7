#pragma once

#include <array>
#include <cstdint>

#include "protocol/CodeTables.h"

// The eleven registers of one meter, filled in place by a full read-out. `address` is that of the
// last accepted reply; without one it keeps what the caller put there.
struct RegisterSnapshot {
    int16_t address = 0;
    std::array<float, kRegisterCount> values{}; // by register index, as RegisterCodeTable
};
