#include "sim/SimFaults.h"

#include <algorithm>

SimFaults ClampFaults(SimFaults faults) {
    faults.nDropPercent = std::clamp(faults.nDropPercent, 0, 100);
    faults.nCorruptPercent = std::clamp(faults.nCorruptPercent, 0, 100);
    faults.nNoiseBytes = std::clamp(faults.nNoiseBytes, 0, SimFaults::kMaxExtraBytes);
    faults.nLongExtraBytes = std::clamp(faults.nLongExtraBytes, 0, SimFaults::kMaxExtraBytes);
    faults.delay = std::clamp(faults.delay, std::chrono::milliseconds{0}, SimFaults::kMaxDelay);
    return faults;
}
