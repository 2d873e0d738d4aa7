// Opens the port named on its command line through the port class and uses it as the window's
// poll ticks do (mode "read": reads only; mode "write": a frame, then a read). First, while the
// device is there, a number of rounds must pass without the port taking it for lost; then it
// prints "open" and goes on until the device goes away (PortLossOnSim.sh takes it away). Prints
// "lost" once the port class has noticed the loss (exit 0); exit 1 when the port was taken for
// lost while the device was there, or when the loss goes unnoticed for 20 s; 2 when the port does
// not open.

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <thread>

#include "serial/SerialPort.h"

namespace {

constexpr auto kNoticeWithin = std::chrono::seconds(20);
constexpr auto kTick = std::chrono::milliseconds(20);
constexpr int kFrameBytes = 35;
// Enough frames for a wait that ends oddly on a live device (wine's transmit-empty wait on a
// pseudo-terminal) to have been met several times.
constexpr int kRoundsWhileThere = 25;

} // namespace

int main(int argc, char** argv) {
    const std::string_view mode = argc == 3 ? argv[2] : "";
    if (mode != "read" && mode != "write") {
        std::fprintf(stderr, "usage: port_loss_probe PORT read|write\n");
        return 2;
    }
    CSerialPort port;
    if (port.OpenPath(argv[1], {9600, 8, 0, 0}) == kNullPortHandle) {
        std::fprintf(stderr, "%s\n", port.FailureReason().c_str());
        return 2;
    }
    const std::array<uint8_t, kFrameBytes> frame{}; // no meter answers to it
    std::array<uint8_t, 256> reply{};
    const auto Round = [&] {
        if (mode == "write") {
            port.Write(frame.data(), static_cast<int>(frame.size()));
        }
        port.Read(reply.data(), static_cast<int>(reply.size()));
        std::this_thread::sleep_for(kTick);
        return !port.IsLost();
    };
    for (int i = 0; i < kRoundsWhileThere; ++i) {
        if (!Round()) {
            std::puts("taken for lost while the device was there");
            return 1;
        }
    }
    std::puts("open");
    std::fflush(stdout);
    const auto deadline = std::chrono::steady_clock::now() + kNoticeWithin;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!Round()) {
            std::puts(port.IsOpen() ? "lost, yet still open" : "lost");
            return port.IsOpen() ? 1 : 0;
        }
    }
    std::puts("the device went away unnoticed");
    return 1;
}
