// qd7-bus: the meter bus from the command line, for production lines, logging and scripts.

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string_view>
#include <vector>

#include "cli/BusProgram.h"
#include "cli/StopSignals.h"

int main(int argc, char** argv) {
    static std::atomic<bool> s_bStop{false};
    InstallStopSignals(s_bStop);
    const std::vector<std::string_view> args(argv + std::min(argc, 1), argv + argc);
    return RunBusProgram(args, stdout, stderr, s_bStop);
}
