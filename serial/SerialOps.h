#pragma once

#include <cstdint>

// A device handle as the port class hands it out; kNullPortHandle while none is held.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kNullPortHandle = -1;

// The operating-system calls behind CSerialPort, one implementation per OS, plus a recording fake
// in the tests. (Filled in with the port implementation.)
class ISerialOps {
public:
    virtual ~ISerialOps() = default;
};
