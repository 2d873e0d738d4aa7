// qd7-bus: the meter bus from the command line, for production lines, logging and scripts.

#include <atomic>
#include <cstdio>

#include "cli/BusCommands.h"
#include "cli/BusProgram.h"
#include "cli/ProgramText.h"
#include "cli/StopSignals.h"
#include "serial/StandardStreams.h"

int main(int argc, char** argv) {
    // Before any device is opened: a port that got descriptor 1 or 2 would carry our text.
    if (!EnsureStandardStreams()) {
        std::fputs("qd7-bus: the closed standard streams cannot be opened on the null device; "
                   "no port is opened\n",
                   stderr);
        return kExitPortFailed;
    }
    const bool bOutputClosed = StandardOutputWasClosed();
    static std::atomic<bool> s_bStop{false};
    InstallStopSignals(s_bStop);
    int code = kExitOk;
    {
        const CProgramText text(argc, argv);
        code = RunBusProgram(text.Args(), stdout, stderr, s_bStop,
                             BusProcess{text.ErrorIsTerminal(), bOutputClosed});
    } // on a console, the relay hands its last text over before the output is closed
    return CloseBusOutput(stdout, stderr, code);
}
