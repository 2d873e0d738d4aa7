#include "cli/StopSignals.h"

#include <windows.h>

namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "a console handler may only set a lock-free atomic");

// Closing the console window (or logging off, shutting down) ends the process as soon as the
// handler returns: this long is left for the program to finish the line in hand and close the
// port. The program's own exit ends the process earlier.
constexpr DWORD kCloseGraceMs = 2000;

std::atomic<bool>* g_pStop = nullptr;

BOOL WINAPI OnConsoleEvent(DWORD nEvent) {
    if (g_pStop == nullptr) {
        return FALSE;
    }
    g_pStop->store(true);
    if (nEvent == CTRL_CLOSE_EVENT || nEvent == CTRL_LOGOFF_EVENT ||
        nEvent == CTRL_SHUTDOWN_EVENT) {
        Sleep(kCloseGraceMs);
    }
    return TRUE;
}

} // namespace

// Ctrl+C and Ctrl+Break set `stop`. Windows has no broken-pipe signal: a write to a closed pipe
// fails, and the program ends on that.
void InstallStopSignals(std::atomic<bool>& stop) {
    g_pStop = &stop;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}
