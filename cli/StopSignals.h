#pragma once

#include <atomic>

// Ctrl+C (SIGINT), SIGTERM and SIGHUP set `stop` instead of killing the program, so that it
// finishes the line in hand and closes the port. A closed pipe on the output no longer kills it
// either: the failed write is seen and the program ends the same way.
void InstallStopSignals(std::atomic<bool>& stop);
