#include "serial/DeviceHolder.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <pthread.h>
#include <sstream>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace {

// The pseudo-terminal multiplexer (/dev/ptmx, /dev/pts/ptmx): every master side is opened
// through it, so its descriptors all carry this number; the kernel tells which pty each one
// serves in the descriptor's fdinfo.
constexpr unsigned kPtmxMajor = 5;
constexpr unsigned kPtmxMinor = 2;
// Slaves of the pseudo-terminals, /dev/pts/N: the minor number is N.
constexpr unsigned kPtySlaveMajor = 136;
constexpr std::string_view kTtyIndexKey = "tty-index:";
// A search ahead yields its core to the program's other threads (a tenth of their share).
constexpr int kSearchNiceness = 10;

struct DirCloser {
    void operator()(DIR* pDir) const { closedir(pDir); }
};
using DirPtr = std::unique_ptr<DIR, DirCloser>;

// A whole-number name ("4711"); -1 for any other.
long NumberOf(std::string_view name) {
    long n = -1;
    const auto [pEnd, ec] = std::from_chars(name.data(), name.data() + name.size(), n);
    return ec == std::errc() && pEnd == name.data() + name.size() && n >= 0 ? n : -1;
}

// The folder `name` under the folder `parent`, opened for reading its entries; null when it is
// gone meanwhile, or another user's: not ours to see. Each look goes from the folder's own
// descriptor: a path from the root would be walked anew for every one of the thousands of
// descriptors a desktop holds.
DirPtr OpenFolder(int parent, const std::string& name) {
    const int fd = openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        return nullptr;
    }
    DirPtr dir(fdopendir(fd));
    if (!dir) {
        close(fd);
    }
    return dir;
}

// The entries of an open folder but "." and "..", one by one, until `visit` returns false.
template <typename Visit> void ForEachEntry(DIR* pDir, Visit visit) {
    while (const dirent* pEntry = readdir(pDir)) {
        const std::string_view name(pEntry->d_name);
        if (name != "." && name != ".." && !visit(pEntry->d_name)) {
            return;
        }
    }
}

// A small file under the folder `dir` (an fdinfo), whole; empty when it cannot be read.
std::string ReadSmallFile(int dir, const std::string& path) {
    std::string text;
    const int fd = openat(dir, path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return text;
    }
    std::array<char, 1024> buffer{};
    for (;;) {
        const ssize_t nRead = read(fd, buffer.data(), buffer.size());
        if (nRead < 0 && errno == EINTR) {
            continue;
        }
        if (nRead <= 0) {
            break;
        }
        text.append(buffer.data(), static_cast<size_t>(nRead));
    }
    close(fd);
    return text;
}

// The index of the pty whose master the descriptor holds; -1 when its fdinfo does not say (a
// kernel before the key was added).
long MasterIndex(int procDir, const std::string& fdinfoPath) {
    std::istringstream file(ReadSmallFile(procDir, fdinfoPath));
    std::string line;
    while (std::getline(file, line)) {
        if (line.rfind(kTtyIndexKey, 0) == 0) {
            const size_t nStart = line.find_first_not_of(" \t", kTtyIndexKey.size());
            return nStart == std::string::npos ? -1
                                               : NumberOf(std::string_view(line).substr(nStart));
        }
    }
    return -1;
}

struct ProcessHold {
    bool bDevice = false; // a descriptor on the device
    bool bFarEnd = false; // the master of the same pseudo-terminal, or one of unknown index
};

// The process whose folder `processDir` is, under the process list open as `procDir`.
ProcessHold LookAt(int procDir, const std::string& processDir, dev_t rdev) {
    const bool bPtySlave = major(rdev) == kPtySlaveMajor;
    const dev_t ptmx = makedev(kPtmxMajor, kPtmxMinor);
    ProcessHold hold;
    const DirPtr fdDir = OpenFolder(procDir, processDir + "/fd");
    if (!fdDir) {
        return hold;
    }
    const int fdDirFd = dirfd(fdDir.get());
    ForEachEntry(fdDir.get(), [&](const char* pszFd) {
        struct stat st {};
        // stat follows the descriptor to the file it holds, without opening anything.
        if (fstatat(fdDirFd, pszFd, &st, 0) != 0 || !S_ISCHR(st.st_mode)) {
            return true;
        }
        if (st.st_rdev == rdev) {
            hold.bDevice = true;
        } else if (bPtySlave && st.st_rdev == ptmx) {
            const long nIndex = MasterIndex(procDir, processDir + "/fdinfo/" + pszFd);
            hold.bFarEnd |= nIndex < 0 || nIndex == static_cast<long>(minor(rdev));
        }
        return true;
    });
    return hold;
}

std::string ProgramName(int procDir, const std::string& processDir) {
    const std::string comm = ReadSmallFile(procDir, processDir + "/comm");
    return comm.substr(0, comm.find('\n'));
}

bool StillHolds(const std::string& procRoot, pid_t pid, dev_t rdev) {
    const DirPtr procDir = OpenFolder(AT_FDCWD, procRoot);
    if (!procDir) {
        return false;
    }
    const ProcessHold hold = LookAt(dirfd(procDir.get()), std::to_string(pid), rdev);
    return hold.bDevice && !hold.bFarEnd;
}

std::optional<DeviceHolder> SearchNow(dev_t rdev, const std::string& procRoot, pid_t self) {
    const DirPtr procDir = OpenFolder(AT_FDCWD, procRoot);
    if (!procDir) {
        return std::nullopt;
    }
    const int procDirFd = dirfd(procDir.get());
    std::optional<DeviceHolder> holder;
    ForEachEntry(procDir.get(), [&](const char* pszEntry) {
        const long nPid = NumberOf(pszEntry);
        if (nPid <= 0 || nPid == static_cast<long>(self)) {
            return true;
        }
        const std::string processDir(pszEntry);
        const ProcessHold hold = LookAt(procDirFd, processDir, rdev);
        if (hold.bDevice && !hold.bFarEnd) {
            holder = DeviceHolder{static_cast<pid_t>(nPid), ProgramName(procDirFd, processDir)};
            return false;
        }
        return true;
    });
    return holder;
}

using Clock = std::chrono::steady_clock;

struct AheadSearch {
    dev_t rdev = 0;
    std::string procRoot;
    pid_t self = 0;
    Clock::time_point started;
    pthread_t thread{};
    std::optional<DeviceHolder> result; // the thread's, read after the join
    std::atomic<bool> bDone{false};     // set once the result is there: the join will not wait

    bool IsFor(dev_t device, const std::string& root, pid_t process) const {
        return rdev == device && procRoot == root && self == process &&
               Clock::now() - started <= kAheadValidity;
    }
};

void* RunAhead(void* pArg) {
    // Behind whatever else this program does: it searches while the window is being made, and
    // has until the first poll tick. Linux keeps a niceness per thread.
    setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kSearchNiceness);
    auto* pSearch = static_cast<AheadSearch*>(pArg);
    pSearch->result = SearchNow(pSearch->rdev, pSearch->procRoot, pSearch->self);
    pSearch->bDone = true;
    return nullptr;
}

// The one search ahead of the process. Its thread is joined when the search is taken or
// replaced, and at the program's end.
class CAheadSlot {
public:
    CAheadSlot() = default;
    CAheadSlot(const CAheadSlot&) = delete;
    CAheadSlot& operator=(const CAheadSlot&) = delete;
    ~CAheadSlot() { Take(); }

    void Start(std::unique_ptr<AheadSearch> pSearch) {
        std::unique_ptr<AheadSearch> pOld = Take();
        const std::lock_guard<std::mutex> lock(m_mutex);
        // Without a thread (the system refuses one) the open searches by itself, as ever.
        if (pthread_create(&pSearch->thread, nullptr, RunAhead, pSearch.get()) == 0) {
            m_pSearch = std::move(pSearch);
        }
    }
    // Whether the search ahead for this device has finished. None for it: one is started, unless
    // a search for another device still runs, which nobody here waits for.
    bool ReadyOrStart(dev_t rdev, const std::string& procRoot, pid_t self) {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            if (m_pSearch && m_pSearch->IsFor(rdev, procRoot, self)) {
                return m_pSearch->bDone;
            }
            if (m_pSearch && !m_pSearch->bDone) {
                return false;
            }
        }
        auto pSearch = std::make_unique<AheadSearch>();
        pSearch->rdev = rdev;
        pSearch->procRoot = procRoot;
        pSearch->self = self;
        pSearch->started = Clock::now();
        Start(std::move(pSearch)); // the one it replaces has finished: its join is at once
        return false;
    }
    // The search ahead, finished; null when there is none.
    std::unique_ptr<AheadSearch> Take() {
        const std::lock_guard<std::mutex> lock(m_mutex);
        if (m_pSearch) {
            pthread_join(m_pSearch->thread, nullptr);
        }
        return std::move(m_pSearch);
    }

private:
    std::mutex m_mutex;
    std::unique_ptr<AheadSearch> m_pSearch;
};

CAheadSlot& AheadSlot() {
    static CAheadSlot slot;
    return slot;
}

} // namespace

bool HolderSearchReady(const std::string& path, const std::string& procRoot) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return true; // nothing to search for: the open fails on its own
    }
    return AheadSlot().ReadyOrStart(st.st_rdev, procRoot, getpid());
}

void SearchHoldersAhead(const std::string& path, const std::string& procRoot) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        return;
    }
    auto pSearch = std::make_unique<AheadSearch>();
    pSearch->rdev = st.st_rdev;
    pSearch->procRoot = procRoot;
    pSearch->self = getpid();
    pSearch->started = Clock::now();
    AheadSlot().Start(std::move(pSearch));
}

std::optional<DeviceHolder> FindOtherHolder(dev_t rdev, const std::string& procRoot, pid_t self) {
    if (const std::unique_ptr<AheadSearch> pAhead = AheadSlot().Take();
        pAhead && pAhead->IsFor(rdev, procRoot, self)) {
        // A holder it found may have let go since; one that came since is as likely as in the
        // moment between any search and the open.
        if (!pAhead->result || StillHolds(procRoot, pAhead->result->pid, rdev)) {
            return pAhead->result;
        }
    }
    return SearchNow(rdev, procRoot, self);
}

std::string HolderText(const DeviceHolder& holder) {
    std::string text = "in use by another program (" + std::to_string(holder.pid);
    if (!holder.name.empty()) {
        text += ", " + holder.name;
    }
    return text + ")";
}
