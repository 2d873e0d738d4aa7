#include "tests/sim/SimPeer.h"

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>

#include "protocol/FrameCodec.h"

std::vector<uint8_t> RequestBytes(int address, int bank, int registerIndex) {
    FrameBuffer frame{};
    if (!BuildRequestFrame(frame, address, kCommandRead, bank, registerIndex, 0.0)) {
        return {};
    }
    return {frame.begin(), frame.begin() + kWireFrameLength};
}

std::vector<uint8_t> TextBytes(std::string_view body) {
    FrameBuffer frame{};
    BuildTextFrame(frame, body);
    return {frame.begin(), frame.begin() + kWireFrameLength};
}

CUniqueFd OpenPeer(const std::string& path) {
    CUniqueFd fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    termios tio{};
    if (!fd.IsValid() || ::tcgetattr(fd.Get(), &tio) != 0) {
        return {};
    }
    ::cfmakeraw(&tio);
    ::tcsetattr(fd.Get(), TCSANOW, &tio);
    return fd;
}

bool WriteBytes(int fd, const std::vector<uint8_t>& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

std::vector<uint8_t> ReadBytes(int fd, size_t count, std::chrono::milliseconds timeout) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
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
