#include "tests/support/PtyPair.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

PtyPair::PtyPair() {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        return;
    }
    const char* pName = nullptr;
    if (grantpt(master) != 0 || unlockpt(master) != 0 || (pName = ptsname(master)) == nullptr) {
        close(master);
        return;
    }
    m_strSlavePath = pName;
    const int slave = open(pName, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    termios tio{};
    if (slave < 0 || tcgetattr(slave, &tio) != 0) {
        if (slave >= 0) {
            close(slave);
        }
        close(master);
        return;
    }
    cfmakeraw(&tio);
    tcsetattr(slave, TCSANOW, &tio);
    m_nMasterFd = master;
    m_nSlaveFd = slave;
}

PtyPair::~PtyPair() {
    CloseMaster();
    if (m_nSlaveFd >= 0) {
        close(m_nSlaveFd);
    }
}

bool PtyPair::WriteMaster(const void* bytes, size_t count) {
    const auto* p = static_cast<const unsigned char*>(bytes);
    while (count > 0) {
        const ssize_t n = write(m_nMasterFd, p, count);
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

std::vector<uint8_t> PtyPair::ReadMaster(size_t maxCount, int timeoutMs) {
    std::vector<uint8_t> bytes;
    while (bytes.size() < maxCount && m_nMasterFd >= 0) {
        pollfd pfd{m_nMasterFd, POLLIN, 0};
        const int nReady = poll(&pfd, 1, timeoutMs);
        if (nReady < 0 && errno == EINTR) {
            continue;
        }
        if (nReady <= 0 || (pfd.revents & POLLIN) == 0) {
            break;
        }
        std::array<uint8_t, 256> chunk{};
        const size_t nWant = std::min(maxCount - bytes.size(), chunk.size());
        const ssize_t n = read(m_nMasterFd, chunk.data(), nWant);
        if (n <= 0) {
            break;
        }
        bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
    }
    return bytes;
}

void PtyPair::CloseMaster() {
    if (m_nMasterFd >= 0) {
        close(m_nMasterFd);
        m_nMasterFd = -1;
    }
}
