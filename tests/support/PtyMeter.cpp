#include "tests/support/PtyMeter.h"

#include "protocol/Crc8.h"
#include "tests/support/FdIo.h"

bool WaitInput(const PtyPair& pty, int count, int timeoutMs) {
    return WaitForInput(pty.SlaveFd(), count, std::chrono::milliseconds(timeoutMs));
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
