#include "sim/SimDevice.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

struct SpeedCode {
    int speed;
    speed_t code;
};

constexpr std::array<SpeedCode, 30> kSpeeds = {{
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
}};

const SpeedCode* FindSpeed(int speed) {
    for (const SpeedCode& entry : kSpeeds) {
        if (entry.speed == speed) {
            return &entry;
        }
    }
    return nullptr;
}

bool SetRaw(int fd, const SpeedCode* speed) {
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) {
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS | CSTOPB | PARENB);
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (speed != nullptr &&
        (::cfsetispeed(&tio, speed->code) != 0 || ::cfsetospeed(&tio, speed->code) != 0)) {
        return false;
    }
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

std::string SlaveName(int masterFd) {
    std::array<char, 128> name{};
    if (::ptsname_r(masterFd, name.data(), name.size()) != 0) {
        return {};
    }
    return name.data();
}

} // namespace

std::optional<SimPty> OpenPty() {
    SimPty pty;
    pty.master.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!pty.master.IsValid() || ::grantpt(pty.master.Get()) != 0 ||
        ::unlockpt(pty.master.Get()) != 0) {
        return std::nullopt;
    }
    pty.slavePath = SlaveName(pty.master.Get());
    pty.slaveKeeper = OpenPtySlaveKeeper(pty.master.Get());
    // Raw before the peer's first open, so nothing it writes is echoed back as a "reply".
    if (pty.slavePath.empty() || !pty.slaveKeeper.IsValid() ||
        !SetRaw(pty.slaveKeeper.Get(), nullptr)) {
        return std::nullopt;
    }
    return pty;
}

CUniqueFd OpenPtySlaveKeeper(int masterFd) {
    const std::string path = SlaveName(masterFd);
    if (path.empty()) {
        return {};
    }
    return CUniqueFd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

bool IsStandardSpeed(int speed) {
    return FindSpeed(speed) != nullptr;
}

CUniqueFd OpenSerialDevice(const std::string& path, int speed, std::string& error,
                           std::string_view consoleListPath) {
    const SpeedCode* code = FindSpeed(speed);
    if (code == nullptr) {
        error = "unsupported speed " + std::to_string(speed);
        return {};
    }
    const std::string consoles = ReadConsoleList(std::string(consoleListPath));
    if (IsConsolePath(path, consoles)) {
        error = path + " is the system console";
        return {};
    }
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd.IsValid()) {
        error = path + ": " + std::strerror(errno);
        return {};
    }
    if (IsConsoleFd(fd.Get(), consoles)) {
        error = path + " is the system console";
        return {};
    }
    if (!SetRaw(fd.Get(), code)) {
        error = path + ": cannot set raw mode: " + std::strerror(errno);
        return {};
    }
    return fd;
}
