#include "serial/ConsoleList.h"

#include <charconv>
#include <fstream>
#include <iterator>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <vector>

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

// The fields of a line, split at blanks.
std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t nStart = line.find_first_not_of(" \t\r");
    while (nStart != std::string_view::npos) {
        const size_t nEnd = line.find_first_of(" \t\r", nStart);
        fields.push_back(
            line.substr(nStart, nEnd == std::string_view::npos ? nEnd : nEnd - nStart));
        nStart = line.find_first_not_of(" \t\r", nEnd);
    }
    return fields;
}

// A driver's line covers the device: "... MAJOR FIRST[-LAST] TYPE", the name before them free.
bool Covers(std::string_view line, unsigned nMajor, unsigned nMinor) {
    const std::vector<std::string_view> fields = Fields(line);
    if (fields.size() < 3) {
        return false;
    }
    unsigned nListedMajor = 0;
    const std::string_view minors = fields[fields.size() - 2];
    const size_t nDash = minors.find('-');
    unsigned nFirst = 0;
    unsigned nLast = 0;
    if (!ParseNumber(fields[fields.size() - 3], nListedMajor) ||
        !ParseNumber(minors.substr(0, nDash), nFirst)) {
        return false;
    }
    if (nDash == std::string_view::npos) {
        nLast = nFirst;
    } else if (!ParseNumber(minors.substr(nDash + 1), nLast)) {
        return false;
    }
    return nListedMajor == nMajor && nMinor >= nFirst && nMinor <= nLast;
}

// Each line of a list, until `visit` returns true; true then.
template <typename Visit> bool AnyLine(std::string_view list, Visit visit) {
    while (!list.empty()) {
        const size_t nEnd = list.find('\n');
        const std::string_view line = list.substr(0, nEnd);
        list.remove_prefix(nEnd == std::string_view::npos ? list.size() : nEnd + 1);
        if (visit(line)) {
            return true;
        }
    }
    return false;
}

} // namespace

bool IsConsoleDevice(dev_t rdev, std::string_view consoleList) {
    const unsigned nMajor = major(rdev);
    const unsigned nMinor = minor(rdev);
    if (nMajor == kTtyMajor && (nMinor == 0 || nMinor == 1)) {
        return true;
    }
    return AnyLine(consoleList, [&](std::string_view line) {
        unsigned nListedMajor = 0;
        unsigned nListedMinor = 0;
        return ParseDeviceField(line, nListedMajor, nListedMinor) && nListedMajor == nMajor &&
               nListedMinor == nMinor;
    });
}

bool MayBeTerminal(dev_t rdev, std::string_view driverList) {
    if (driverList.find_first_not_of(" \t\r\n") == std::string_view::npos) {
        return true;
    }
    const unsigned nMajor = major(rdev);
    const unsigned nMinor = minor(rdev);
    return AnyLine(driverList, [&](std::string_view line) { return Covers(line, nMajor, nMinor); });
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
