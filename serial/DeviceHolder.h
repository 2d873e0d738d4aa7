#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

// A program that holds a serial device open without taking its lock (a terminal program left
// running, a logger) shares the line unnoticed: it reads the meters' replies away, and its own
// bytes collide with our frames. The kernel lists every process's open files under /proc, so
// such a holder can be found before we open the device, as far as this user may look: another
// user's descriptors stay hidden unless we are root, so the search is best effort.

// Where Linux lists its processes.
inline constexpr std::string_view kProcRoot = "/proc";

struct DeviceHolder {
    pid_t pid = 0;
    std::string name; // the program's name as the kernel keeps it (/proc/PID/comm); may be empty
};

// The first process other than `self`, in the process list under procRoot, with a descriptor on
// the character device `rdev`. For a pseudo-terminal, a process that also holds its master side
// is the line's far end (a simulated bus, a terminal emulator), not a second user, and is passed
// over; so is one that holds a master the kernel does not say the index of.
std::optional<DeviceHolder> FindOtherHolder(dev_t rdev, const std::string& procRoot, pid_t self);

// The same search started ahead, on a thread of its own, for the device at `path` (nothing when
// it is no character device): the walk through every process's descriptors takes milliseconds,
// more on a busy desktop, and a program that knows which device it will open soon lets it run
// while it does other work. FindOtherHolder takes the result of a search ahead for the same
// device, process list and process that started at most kAheadValidity before, and searches
// anew when the holder it names has let go meanwhile; else it searches itself. One search ahead
// at a time: a second replaces the first.
inline constexpr std::chrono::seconds kAheadValidity{2};
void SearchHoldersAhead(const std::string& path,
                        const std::string& procRoot = std::string(kProcRoot));

// True when a search ahead for the device at `path` has finished and is still valid, so that
// FindOtherHolder takes its result at once. Else false, and a search ahead for it is started
// unless one for any device still runs (FindOtherHolder then waits for that one and searches
// itself): the caller's thread is never held here.
bool HolderSearchReady(const std::string& path,
                       const std::string& procRoot = std::string(kProcRoot));

// "in use by another program (4711, minicom)", the reason a user reads.
std::string HolderText(const DeviceHolder& holder);
