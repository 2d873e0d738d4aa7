#include "tests/setup/SimReadOut.h"

#include <array>
#include <cstdio>
#include <string_view>

#include "protocol/CodeTables.h"

std::vector<std::string> ExpectedTexts(int address, int bank) {
    // The simulator's defaults: bank 0 holds a negative value, decimals and 0.00005 in Y0; P0
    // stands at 100 + address in bank 0 and at 0 in bank 1 at time 0.
    if (bank == 0) {
        return {std::to_string(100 + address),
                "900",
                "750.5",
                "20",
                "-15.25",
                "987.6",
                "-12.34",
                "0.0001",
                "1000",
                "5e-05",
                "123456"};
    }
    return {"0", "450", "300", "-5", "-40.5", "55.55", "-0.5", "4", "20", "0", "100"};
}

std::vector<std::string> ReadOutBodies(int address, int bank) {
    std::vector<std::string> bodies;
    for (const std::string_view code : RegisterCodeTable) {
        std::array<char, 32> body{};
        std::snprintf(body.data(), body.size(), "%02dRX%d%.2s+0000000", address, bank, code.data());
        bodies.emplace_back(body.data());
    }
    return bodies;
}
