#include "tests/support/LineProbe.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

// <sys/ioctl.h> would bring <termios.h>'s definitions beside the kernel's.
extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

ProbedSpeed ProbeLineSpeed(int fd) {
    termios2 tio{};
    if (ioctl(fd, TCGETS2, &tio) != 0) {
        return {};
    }
    return {tio.c_ispeed, tio.c_ospeed};
}

bool ProbeExclusive(int fd) {
    int nExclusive = 0;
    return ioctl(fd, TIOCGEXCL, &nExclusive) == 0 && nExclusive != 0;
}
