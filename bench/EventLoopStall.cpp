// event_loop_stall: how long a window's event loop keeps the user waiting. Every 20 ms it sends
// the window a _NET_WM_PING (the window manager's question "are you alive?", which Qt answers from
// its event loop) and times each answer; a loop that is held (a wait on the network, a search) lets
// the pings wait, and the longest round trip is the longest stall a click would meet. On the
// display in $DISPLAY (a private Xvfb without a window manager: bench/event_loop_stall.sh).
//
//   event_loop_stall TITLE SECONDS [--blackhole PORT]
//
// TITLE: the window's title, which it is found by (waited for up to 20 s). With --blackhole, a
// listener on 127.0.0.1:PORT whose queue of connections is full is put up first: connections to it
// get no answer at all, as from a device server switched off or out of reach. Prints the number of
// pings, the median, the 99th percentile and the longest round trip in milliseconds.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kPingEvery = std::chrono::milliseconds(20);
constexpr auto kFindBudget = std::chrono::seconds(20);

// A top-level window with this title, among the root window's children; 0 when there is none.
Window FindWindow(Display* pDisplay, const std::string& title) {
    Window root = 0;
    Window parent = 0;
    Window* pChildren = nullptr;
    unsigned count = 0;
    if (XQueryTree(pDisplay, DefaultRootWindow(pDisplay), &root, &parent, &pChildren, &count) ==
        0) {
        return 0;
    }
    Window found = 0;
    for (unsigned i = 0; i < count && found == 0; ++i) {
        char* pszName = nullptr;
        if (XFetchName(pDisplay, pChildren[i], &pszName) != 0 && pszName != nullptr) {
            if (title == pszName) {
                found = pChildren[i];
            }
            XFree(pszName);
        }
    }
    if (pChildren != nullptr) {
        XFree(pChildren);
    }
    return found;
}

// Listens on 127.0.0.1:port with a queue of one, and fills it: later connections are dropped
// unanswered by the system. The two descriptors must stay open; -1 when it could not be done.
bool PutUpBlackhole(int port, int& listener, int& filler) {
    listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (listener < 0 ||
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(listener, 0) != 0) {
        return false;
    }
    filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return filler >= 0 &&
           connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
}

double Ms(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: event_loop_stall TITLE SECONDS [--blackhole PORT]\n");
        return 2;
    }
    const std::string title = argv[1];
    const auto seconds = std::chrono::seconds(std::max(1, std::atoi(argv[2])));
    int listener = -1;
    int filler = -1;
    if (argc > 4 && std::strcmp(argv[3], "--blackhole") == 0 &&
        !PutUpBlackhole(std::atoi(argv[4]), listener, filler)) {
        std::perror("event_loop_stall: the listener that answers nothing");
        return 1;
    }
    Display* pDisplay = XOpenDisplay(nullptr);
    if (pDisplay == nullptr) {
        std::fprintf(stderr, "event_loop_stall: no X display (DISPLAY)\n");
        return 1;
    }
    Window window = 0;
    for (const auto t0 = Clock::now(); window == 0 && Clock::now() - t0 < kFindBudget;) {
        window = FindWindow(pDisplay, title);
        if (window == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }
    if (window == 0) {
        std::fprintf(stderr, "event_loop_stall: no window \"%s\"\n", title.c_str());
        return 1;
    }
    const Window root = DefaultRootWindow(pDisplay);
    const Atom protocols = XInternAtom(pDisplay, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(pDisplay, "_NET_WM_PING", False);
    // The answer goes to the root window, to whoever listens there for its children's changes.
    XSelectInput(pDisplay, root, StructureNotifyMask | SubstructureNotifyMask);
    XSync(pDisplay, False);

    std::vector<double> trips;
    long nSerial = 0;
    bool bAwaiting = false; // a ping awaits its answer, sent at `sent`
    Clock::time_point sent = Clock::now();
    Clock::time_point nextPing = Clock::now();
    const Clock::time_point end = Clock::now() + seconds;
    const int fd = ConnectionNumber(pDisplay);
    while (Clock::now() < end || bAwaiting) {
        const Clock::time_point now = Clock::now();
        if (!bAwaiting && now >= nextPing && now < end) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = protocols;
            event.xclient.format = 32;
            event.xclient.data.l[0] = static_cast<long>(ping);
            event.xclient.data.l[1] = ++nSerial; // the timestamp field: ours to match the answer
            event.xclient.data.l[2] = static_cast<long>(window);
            XSendEvent(pDisplay, window, False, NoEventMask, &event);
            XFlush(pDisplay);
            sent = now;
            bAwaiting = true;
            nextPing = now + kPingEvery;
        }
        while (XPending(pDisplay) > 0) {
            XEvent event;
            XNextEvent(pDisplay, &event);
            if (event.type == ClientMessage && event.xclient.message_type == protocols &&
                static_cast<Atom>(event.xclient.data.l[0]) == ping &&
                event.xclient.data.l[1] == nSerial && bAwaiting) {
                trips.push_back(Ms(Clock::now() - sent));
                bAwaiting = false;
            }
        }
        if (bAwaiting && Clock::now() - sent > std::chrono::seconds(30)) {
            std::fprintf(stderr, "event_loop_stall: the window did not answer for 30 s\n");
            return 1;
        }
        fd_set fds;
        FD_ZERO(&fds);
        FD_SET(fd, &fds);
        timeval step{0, 1000};
        select(fd + 1, &fds, nullptr, nullptr, &step);
    }
    XCloseDisplay(pDisplay);
    if (filler >= 0) {
        close(filler);
    }
    if (listener >= 0) {
        close(listener);
    }
    if (trips.empty()) {
        std::fprintf(stderr, "event_loop_stall: no answer\n");
        return 1;
    }
    std::sort(trips.begin(), trips.end());
    std::printf("%zu pings over %lld s: median %.1f ms, 99th percentile %.1f ms, longest %.1f ms\n",
                trips.size(), static_cast<long long>(seconds.count()), trips[trips.size() / 2],
                trips[std::min(trips.size() - 1, trips.size() * 99 / 100)], trips.back());
    return 0;
}
