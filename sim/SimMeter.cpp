#include "sim/SimMeter.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

using Values = std::array<double, kRegisterCount>;
using Decimals = std::array<int, kRegisterCount>;

//                                P0     C0     C1     C2    C3      K0     K1      X0      X1
//                                Y0       Y1
constexpr Values kBank0Values = {0.0,    900.0,  750.5,  20.0,    -15.25,  987.6,
                                 -12.34, 0.0001, 1000.0, 0.00005, 123456.0};
constexpr Decimals kBank0Decimals = {1, 1, 1, 0, 2, 1, 2, 4, 0, 5, 0};
constexpr Values kBank1Values = {0.0,  450.0, 300.0, -5.0, -40.5, 55.55,
                                 -0.5, 4.0,   20.0,  0.0,  100.0};
constexpr Decimals kBank1Decimals = {2, 1, 1, 0, 1, 2, 1, 0, 0, 0, 2};

constexpr double kBank0P0Centre = 100.0;

} // namespace

CSimMeter::CSimMeter(int address)
    : m_nAddress(address), m_aValues{kBank0Values, kBank1Values}, m_aDecimals{kBank0Decimals,
                                                                              kBank1Decimals} {
    m_aValues[0][kRegisterProcessValue] = kBank0P0Centre + address;
}

bool CSimMeter::IsRegister(int bank, int registerIndex) {
    return bank >= 0 && bank < kBankCount && registerIndex >= 0 && registerIndex < kRegisterCount;
}

double CSimMeter::P0Motion(int bank, std::chrono::milliseconds now) {
    now = std::max(now, std::chrono::milliseconds{0});
    if (bank == 0) {
        const double phase = static_cast<double>(now.count() % kP0SinePeriod.count()) /
                             static_cast<double>(kP0SinePeriod.count());
        return kP0Amplitude * std::sin(2.0 * std::numbers::pi * phase);
    }
    const auto position = now.count() % kP0RampPeriod.count();
    return kP0RampTop * static_cast<double>(position) / static_cast<double>(kP0RampPeriod.count());
}

double CSimMeter::Value(int bank, int registerIndex, std::chrono::milliseconds now) const {
    if (!IsRegister(bank, registerIndex)) {
        return 0.0;
    }
    const double stored = m_aValues[static_cast<size_t>(bank)][static_cast<size_t>(registerIndex)];
    return registerIndex == kRegisterProcessValue ? stored + P0Motion(bank, now) : stored;
}

int CSimMeter::Decimals(int bank, int registerIndex) const {
    if (!IsRegister(bank, registerIndex)) {
        return 0;
    }
    return m_aDecimals[static_cast<size_t>(bank)][static_cast<size_t>(registerIndex)];
}

void CSimMeter::Write(int bank, int registerIndex, double value, int decimals,
                      std::chrono::milliseconds now) {
    if (!IsRegister(bank, registerIndex)) {
        return;
    }
    const auto b = static_cast<size_t>(bank);
    const auto r = static_cast<size_t>(registerIndex);
    m_aValues[b][r] = registerIndex == kRegisterProcessValue ? value - P0Motion(bank, now) : value;
    m_aDecimals[b][r] = std::clamp(decimals, 0, 9);
}
