// qd7-bus: the meter bus from the command line, for production lines, logging and scripts.

#include <atomic>
#include <cstdio>

#include "cli/BusProgram.h"
#include "cli/ProgramText.h"
#include "cli/StopSignals.h"

int main(int argc, char** argv) {
    static std::atomic<bool> s_bStop{false};
    InstallStopSignals(s_bStop);
    const CProgramText text(argc, argv);
    return RunBusProgram(text.Args(), stdout, stderr, s_bStop);
}
