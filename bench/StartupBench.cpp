// startup_bench: how long a program takes from its start to its first window on the screen (the
// X server's MapNotify of a top-level window), and its resident memory at that moment, for
// qd7test beside a bare Qt dialog, alternating, N rounds each, on the display in $DISPLAY (run it
// on a private Xvfb: tools/lib/desktop-session.sh, or bench/startup_bench.sh). Prints the medians
// and the ratios.
//
//   startup_bench PROGRAM BARE_PROGRAM [ROUNDS]
#include <X11/Xlib.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kDefaultRounds = 21;
constexpr auto kMapBudget = std::chrono::seconds(20);
constexpr auto kSettle = std::chrono::milliseconds(100);

struct Start {
    double ms = 0;   // from the spawn to the first top-level window mapped
    long rssKiB = 0; // the program's resident memory then
};

long ResidentKiB(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (status >> key) {
        if (key == "VmRSS:") {
            status >> value;
            return value;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

// One start of `program`: the root window's children are watched for a map before it is spawned.
std::optional<Start> Measure(Display* pDisplay, const std::string& program) {
    XSelectInput(pDisplay, DefaultRootWindow(pDisplay), SubstructureNotifyMask);
    XSync(pDisplay, True); // nothing of before
    std::vector<char*> argv = {const_cast<char*>(program.c_str()), nullptr};
    pid_t pid = -1;
    const auto t0 = Clock::now();
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) {
        return std::nullopt;
    }
    std::optional<Start> start;
    const int fd = ConnectionNumber(pDisplay);
    while (!start && Clock::now() - t0 < kMapBudget) {
        while (!start && XPending(pDisplay) > 0) {
            XEvent event;
            XNextEvent(pDisplay, &event);
            if (event.type == MapNotify && !event.xmap.override_redirect) {
                const double ms =
                    std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
                start = Start{ms, ResidentKiB(pid)};
            }
        }
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval step{0, 1000};
        select(fd + 1, &fds, nullptr, nullptr, &step);
    }
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    return start;
}

template <typename T> T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: startup_bench PROGRAM BARE_PROGRAM [ROUNDS]\n");
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : kDefaultRounds;
    Display* pDisplay = XOpenDisplay(nullptr);
    if (pDisplay == nullptr) {
        std::fprintf(stderr, "startup_bench: no X display (DISPLAY)\n");
        return 1;
    }
    std::vector<double> programMs, bareMs, ratios;
    std::vector<long> programRss, bareRss;
    for (int round = 0; round < rounds; ++round) {
        // Side by side, so that a change of the machine's load falls on both alike, and each first
        // in every other round; a pause lets the X server and the kernel finish with one before
        // the next starts.
        std::optional<Start> program;
        std::optional<Start> bare;
        if (round % 2 == 0) {
            program = Measure(pDisplay, argv[1]);
            std::this_thread::sleep_for(kSettle);
            bare = Measure(pDisplay, argv[2]);
        } else {
            bare = Measure(pDisplay, argv[2]);
            std::this_thread::sleep_for(kSettle);
            program = Measure(pDisplay, argv[1]);
        }
        std::this_thread::sleep_for(kSettle);
        if (!program || !bare) {
            std::fprintf(stderr, "startup_bench: no window within %lld s\n",
                         static_cast<long long>(kMapBudget.count()));
            return 1;
        }
        programMs.push_back(program->ms);
        programRss.push_back(program->rssKiB);
        bareMs.push_back(bare->ms);
        bareRss.push_back(bare->rssKiB);
        ratios.push_back(program->ms / bare->ms);
    }
    XCloseDisplay(pDisplay);
    const double ms = Median(programMs);
    const double msBare = Median(bareMs);
    const long rss = Median(programRss);
    const long rssBare = Median(bareRss);
    // The headline is the median of the rounds' own ratios: a round's two starts share the
    // machine's state of that moment, which the medians of each alone do not.
    std::printf("map time, median of %d rounds: %.2fx a bare dialog's (medians %.1f ms against "
                "%.1f ms)\n",
                rounds, Median(ratios), ms, msBare);
    std::printf("RSS at the map, median: %ld KiB against %ld KiB: %.2fx\n", rss, rssBare,
                static_cast<double>(rss) / static_cast<double>(rssBare));
    return 0;
}
