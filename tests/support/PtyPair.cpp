#include "tests/support/PtyPair.h"

#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "tests/support/FdIo.h"

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
    return WriteBytes(m_nMasterFd, bytes, count);
}

std::vector<uint8_t> PtyPair::ReadMaster(size_t maxCount, int timeoutMs) {
    return ReadBytes(m_nMasterFd, maxCount, std::chrono::milliseconds(timeoutMs));
}

void PtyPair::CloseMaster() {
    if (m_nMasterFd >= 0) {
        close(m_nMasterFd);
        m_nMasterFd = -1;
    }
}
