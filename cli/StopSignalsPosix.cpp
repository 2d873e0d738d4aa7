#include "cli/StopSignals.h"

#include <csignal>

#include <signal.h>

namespace {

static_assert(std::atomic<bool>::is_always_lock_free,
              "a signal handler may only set a lock-free atomic");

std::atomic<bool>* g_pStop = nullptr;

extern "C" void OnStopSignal(int) {
    if (g_pStop != nullptr) {
        g_pStop->store(true);
    }
}

} // namespace

void InstallStopSignals(std::atomic<bool>& stop) {
    g_pStop = &stop;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaction(signal, &action, nullptr);
    }
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}
