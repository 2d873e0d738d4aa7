#include "serial/DeviceHolder.h"

#include <charconv>
#include <dirent.h>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <sys/sysmacros.h>
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

std::vector<std::string> EntryNames(const std::string& folder) {
    std::vector<std::string> names;
    const DirPtr dir(opendir(folder.c_str()));
    if (!dir) {
        return names; // gone meanwhile, or another user's: not ours to see
    }
    while (const dirent* pEntry = readdir(dir.get())) {
        const std::string_view name(pEntry->d_name);
        if (name != "." && name != "..") {
            names.emplace_back(name);
        }
    }
    return names;
}

// The index of the pty whose master the descriptor holds; -1 when its fdinfo does not say (a
// kernel before the key was added).
long MasterIndex(const std::string& fdinfoPath) {
    std::ifstream file(fdinfoPath);
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

ProcessHold LookAt(const std::string& processDir, dev_t rdev) {
    const bool bPtySlave = major(rdev) == kPtySlaveMajor;
    const dev_t ptmx = makedev(kPtmxMajor, kPtmxMinor);
    ProcessHold hold;
    for (const std::string& fd : EntryNames(processDir + "/fd")) {
        struct stat st {};
        // stat follows the descriptor to the file it holds, without opening anything.
        if (stat((processDir + "/fd/" + fd).c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
            continue;
        }
        if (st.st_rdev == rdev) {
            hold.bDevice = true;
        } else if (bPtySlave && st.st_rdev == ptmx) {
            const long nIndex = MasterIndex(processDir + "/fdinfo/" + fd);
            hold.bFarEnd |= nIndex < 0 || nIndex == static_cast<long>(minor(rdev));
        }
    }
    return hold;
}

std::string ProgramName(const std::string& processDir) {
    std::ifstream file(processDir + "/comm");
    std::string name;
    std::getline(file, name);
    return name;
}

} // namespace

std::optional<DeviceHolder> FindOtherHolder(dev_t rdev, const std::string& procRoot, pid_t self) {
    for (const std::string& entry : EntryNames(procRoot)) {
        const long nPid = NumberOf(entry);
        if (nPid <= 0 || nPid == static_cast<long>(self)) {
            continue;
        }
        const std::string processDir = procRoot + "/" + entry;
        const ProcessHold hold = LookAt(processDir, rdev);
        if (hold.bDevice && !hold.bFarEnd) {
            return DeviceHolder{static_cast<pid_t>(nPid), ProgramName(processDir)};
        }
    }
    return std::nullopt;
}

std::string HolderText(const DeviceHolder& holder) {
    std::string text = "in use by another program (" + std::to_string(holder.pid);
    if (!holder.name.empty()) {
        text += ", " + holder.name;
    }
    return text + ")";
}
