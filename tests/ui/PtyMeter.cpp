#include "tests/ui/PtyMeter.h"

#include <poll.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <chrono>

#include "protocol/Crc8.h"

bool WaitInput(const PtyPair& pty, int count, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        int waiting = 0;
        if (::ioctl(pty.SlaveFd(), FIONREAD, &waiting) == 0 && waiting >= count) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd pfd{pty.SlaveFd(), POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), 5)));
    }
}

bool Answer(PtyPair& pty, const std::vector<uint8_t>& bytes, int alreadyWaiting) {
    return pty.WriteMaster(bytes.data(), bytes.size()) &&
           WaitInput(pty, alreadyWaiting + static_cast<int>(bytes.size()));
}

std::vector<uint8_t> ReplyFrame(const char* body) {
    std::vector<uint8_t> bytes = {0x06, 0x02};
    for (const char* p = body; *p != '\0'; ++p) {
        bytes.push_back(static_cast<uint8_t>(*p));
    }
    bytes.push_back(0x03);
    bytes.push_back(Crc8(bytes.data() + 2, static_cast<int>(bytes.size()) - 2));
    return bytes;
}
