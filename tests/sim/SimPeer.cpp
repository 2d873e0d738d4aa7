#include "tests/sim/SimPeer.h"

#include <fcntl.h>
#include <termios.h>

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
