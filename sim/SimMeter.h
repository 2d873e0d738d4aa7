#pragma once

#include <array>
#include <chrono>

#include "protocol/CodeTables.h"

// One simulated meter: an address, eleven registers in each of two banks, a decimal-places digit
// per register, and a process value (P0) that moves with time. Time is handed in by the caller, so
// the meter knows nothing of clocks or threads.
//
// Defaults (value / decimals), the same for every address except P0:
//   register  bank 0                           bank 1
//   P0        100+address ± 20.0 sine, 30 s /1  ramp 0.00 → 50.00 over 50 s, repeating /2
//   C0        900.0 /1                         450.0 /1
//   C1        750.5 /1                         300.0 /1
//   C2        20 /0                            -5 /0
//   C3        -15.25 /2                        -40.5 /1
//   K0        987.6 /1                         55.55 /2
//   K1        -12.34 /2                        -0.5 /1
//   X0        0.0001 /4                        4 /0
//   X1        1000 /0                          20 /0
//   Y0        0.00005 /5 ("%g" shows 5e-05)    0 /0
//   Y1        123456 /0                        100.00 /2
class CSimMeter {
public:
    static constexpr int kBankCount = 2;
    static constexpr double kP0Amplitude = 20.0;
    static constexpr std::chrono::milliseconds kP0SinePeriod{30000};
    static constexpr std::chrono::milliseconds kP0RampPeriod{50000};
    static constexpr double kP0RampTop = 50.0;

    explicit CSimMeter(int address);

    int Address() const { return m_nAddress; }
    static bool IsRegister(int bank, int registerIndex);

    // The register's value at `now` (time since the bus started). Out-of-range bank or register: 0.
    double Value(int bank, int registerIndex, std::chrono::milliseconds now) const;
    int Decimals(int bank, int registerIndex) const;

    // Stores a value and its decimal places (held to 0..9). For P0 the value is where the process
    // value stands at `now`; it moves on from there. Out-of-range bank or register: nothing.
    void Write(int bank, int registerIndex, double value, int decimals,
               std::chrono::milliseconds now);

private:
    using BankValues = std::array<double, kRegisterCount>;
    using BankDecimals = std::array<int, kRegisterCount>;

    static double P0Motion(int bank, std::chrono::milliseconds now);

    int m_nAddress;
    // For P0 the stored value is the centre the motion is added to.
    std::array<BankValues, kBankCount> m_aValues;
    std::array<BankDecimals, kBankCount> m_aDecimals;
};
