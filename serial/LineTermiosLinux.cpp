#include "serial/LineTermios.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>
#include <cstdlib>
#include <cstring>

// <sys/ioctl.h> would drag in <termios.h>'s definitions beside the kernel's; the one declaration
// needed is this.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

static_assert(sizeof(termios2) <= sizeof(SavedLine::bytes));

namespace {

constexpr int kSpeedTolerancePercent = 2;

// Mark and space parity (a parity bit always 1 or always 0) where the architecture defines them.
#ifdef CMSPAR
constexpr tcflag_t kStickParity = CMSPAR;
#else
constexpr tcflag_t kStickParity = 0;
#endif

bool SetCharacterFormat(tcflag_t& cflag, const LineSettings& s) {
    cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CSTOPB | kStickParity);
    switch (s.dataBits) {
    case 7:
        cflag |= CS7;
        break;
    case 8:
        cflag |= CS8;
        break;
    default:
        return false;
    }
    switch (s.parity) {
    case 0:
        break;
    case 1:
        cflag |= PARENB | PARODD;
        break;
    case 2:
        cflag |= PARENB;
        break;
    case 3:
        cflag |= PARENB | PARODD | kStickParity;
        break;
    case 4:
        cflag |= PARENB | kStickParity;
        break;
    default:
        return false;
    }
    if (s.parity >= 3 && kStickParity == 0) {
        return false;
    }
    switch (s.stopBits) {
    case 0:
        break;
    case 2:
        cflag |= CSTOPB;
        break;
    default:
        return false; // one and a half stop bits: no Linux driver has them
    }
    return true;
}

bool SpeedTaken(speed_t asked, speed_t reported) {
    const long nDiff = std::labs(static_cast<long>(reported) - static_cast<long>(asked));
    return nDiff * 100 <= static_cast<long>(asked) * kSpeedTolerancePercent;
}

} // namespace

bool SaveLineSettings(int fd, SavedLine& saved) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    saved.bytes.fill(0);
    std::memcpy(saved.bytes.data(), &tio, sizeof(tio));
    return true;
}

bool RestoreLineSettings(int fd, const SavedLine& saved) {
    termios2 tio{};
    std::memcpy(&tio, saved.bytes.data(), sizeof(tio));
    return ioctl(fd, TCSETS2, &tio) == 0;
}

bool ApplyRawLine(int fd, const LineSettings& settings) {
    if (settings.speed <= 0) {
        return false;
    }
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    tcflag_t cflag = tio.c_cflag;
    if (!SetCharacterFormat(cflag, settings)) {
        return false;
    }
    cflag &= ~static_cast<tcflag_t>(CRTSCTS | CBAUD | CIBAUD);
    cflag |= CLOCAL | CREAD | BOTHER | (BOTHER << IBSHIFT);
    tio.c_cflag = cflag;
    tio.c_iflag = IGNBRK; // no XON/XOFF, no CR/LF translation, no parity marking or stripping
    tio.c_oflag = 0;
    tio.c_lflag = 0;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    tio.c_ispeed = static_cast<speed_t>(settings.speed);
    tio.c_ospeed = static_cast<speed_t>(settings.speed);
    if (ioctl(fd, TCSETS2, &tio) != 0) {
        return false;
    }
    // The kernel takes a speed its driver cannot reach without an error and reports the one set.
    termios2 taken{};
    if (ioctl(fd, TCGETS2, &taken) != 0) {
        return false;
    }
    return SpeedTaken(tio.c_ospeed, taken.c_ospeed);
}
