#include "serial/StandardStreams.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace {

bool g_bOutputWasClosed = false;

} // namespace

bool EnsureStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF) {
            continue;
        }
        g_bOutputWasClosed |= fd == STDOUT_FILENO;
        // Inherited like any standard stream, hence no close-on-exec. The lower numbers are open
        // by now, so open() gives this one; dup2 only in case it did not.
        const int h = ::open("/dev/null", O_RDWR);
        if (h < 0) {
            return false;
        }
        if (h != fd) {
            const bool bMoved = ::dup2(h, fd) == fd;
            ::close(h);
            if (!bMoved) {
                return false;
            }
        }
    }
    return true;
}

bool StandardOutputWasClosed() {
    return g_bOutputWasClosed;
}
