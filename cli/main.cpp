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
    // Said at once, before a watch runs for hours into the null device; the run goes on, since
    // the bus may still be wanted (a watch that publishes), and ends as a failed output.
    const bool bOutputClosed = StandardOutputWasClosed();
    if (bOutputClosed) {
        std::fputs("qd7-bus: cannot write the output: the standard output is closed "
                   "(>/dev/null discards it)\n",
                   stderr);
    }
    static std::atomic<bool> s_bStop{false};
    InstallStopSignals(s_bStop);
    int code = kExitOk;
    {
        const CProgramText text(argc, argv);
        code =
            RunBusProgram(text.Args(), stdout, stderr, s_bStop, BusProcess{text.ErrorIsTerminal()});
    } // on a console, the relay hands its last text over before the output is closed
    code = CloseBusOutput(stdout, stderr, code);
    return bOutputClosed ? kExitOutput : code;
}
