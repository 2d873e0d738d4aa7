#include "serial/ConsoleList.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace {

constexpr unsigned kTtyMajor = 5; // /dev/tty is 5:0, /dev/console 5:1

bool ParseNumber(std::string_view text, unsigned& value) {
    const char* pEnd = text.data() + text.size();
    const auto [pStop, ec] = std::from_chars(text.data(), pEnd, value);
    return ec == std::errc() && pStop == pEnd && !text.empty();
}

// The "major:minor" field that ends a line of the list.
bool ParseDeviceField(std::string_view line, unsigned& major, unsigned& minor) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    const size_t nStart = line.find_last_of(" \t");
    const std::string_view field =
        nStart == std::string_view::npos ? line : line.substr(nStart + 1);
    const size_t nColon = field.find(':');
    if (nColon == std::string_view::npos) {
        return false;
    }
    return ParseNumber(field.substr(0, nColon), major) &&
           ParseNumber(field.substr(nColon + 1), minor);
}

} // namespace

bool IsConsoleDevice(dev_t rdev, std::string_view consoleList) {
    const unsigned nMajor = major(rdev);
    const unsigned nMinor = minor(rdev);
    if (nMajor == kTtyMajor && (nMinor == 0 || nMinor == 1)) {
        return true;
    }
    while (!consoleList.empty()) {
        const size_t nEnd = consoleList.find('\n');
        const std::string_view line = consoleList.substr(0, nEnd);
        consoleList.remove_prefix(nEnd == std::string_view::npos ? consoleList.size() : nEnd + 1);
        unsigned nListedMajor = 0;
        unsigned nListedMinor = 0;
        if (ParseDeviceField(line, nListedMajor, nListedMinor) && nListedMajor == nMajor &&
            nListedMinor == nMinor) {
            return true;
        }
    }
    return false;
}

bool IsConsolePath(const std::string& path, std::string_view consoleList) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
           IsConsoleDevice(st.st_rdev, consoleList);
}

bool IsConsoleFd(int fd, std::string_view consoleList) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && IsConsoleDevice(st.st_rdev, consoleList);
}

std::string ReadConsoleList(const std::string& path) {
    std::ifstream file(path);
    if (!file) {
        return {};
    }
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}
