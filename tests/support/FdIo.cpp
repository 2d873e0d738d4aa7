#include "tests/support/FdIo.h"

#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <thread>

bool WriteBytes(int fd, const void* bytes, size_t count) {
    const auto* p = static_cast<const uint8_t*>(bytes);
    while (count > 0) {
        const ssize_t n = ::write(fd, p, count);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        p += n;
        count -= static_cast<size_t>(n);
    }
    return true;
}

bool WriteBytes(int fd, const std::vector<uint8_t>& bytes) {
    return WriteBytes(fd, bytes.data(), bytes.size());
}

std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < count && fd >= 0) {
        pollfd pfd{fd, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(timeout.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        std::array<uint8_t, 256> chunk{};
        const ssize_t n = ::read(fd, chunk.data(), std::min(chunk.size(), count - bytes.size()));
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return bytes;
}

bool WaitForInput(int fd, int count, std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    for (;;) {
        int waiting = 0;
        if (::ioctl(fd, FIONREAD, &waiting) == 0 && waiting >= count) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            return false;
        }
        // Some bytes already wait, so the poll returns at once: a short pause instead of a spin.
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 5))) > 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
}
