#include "cli/BackupFile.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "serial/UniqueFd.h"

namespace {

std::string Reason(int nError) {
    return std::strerror(nError);
}

} // namespace

bool ReadSmallFile(const std::string& path, size_t limit, std::string& text, std::string& error) {
    const CUniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat info {};
    if (!fd.IsValid() || ::fstat(fd.Get(), &info) != 0) {
        error = Reason(errno);
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        error = "a folder, not a file";
        return false;
    }
    text.clear();
    std::array<char, 4096> chunk{};
    for (;;) {
        const ssize_t n = ::read(fd.Get(), chunk.data(), chunk.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = Reason(errno);
            return false;
        }
        if (n == 0) {
            return true;
        }
        if (text.size() + static_cast<size_t>(n) > limit) {
            error = "larger than " + std::to_string(limit) + " bytes";
            return false;
        }
        text.append(chunk.data(), static_cast<size_t>(n));
    }
}

bool WriteWholeFile(const std::string& path, std::string_view text, std::string& error) {
    // Beside the file, so that the rename stays on its file system; the process id keeps two runs
    // apart, and O_EXCL any file that happens to have the name.
    const std::string aside = path + ".new-" + std::to_string(::getpid());
    CUniqueFd fd(::open(aside.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (!fd.IsValid()) {
        error = Reason(errno);
        return false;
    }
    const auto fail = [&](int nError) {
        error = Reason(nError);
        fd.Reset();
        ::unlink(aside.c_str());
        return false;
    };
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = ::write(fd.Get(), text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return fail(errno);
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd.Get()) != 0) {
        return fail(errno);
    }
    fd.Reset(); // what close could report, fsync has reported
    if (::rename(aside.c_str(), path.c_str()) != 0) {
        return fail(errno);
    }
    return true;
}
