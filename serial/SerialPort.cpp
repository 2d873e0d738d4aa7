#include "serial/SerialPort.h"

#include <algorithm>

#include "serial/PortDevice.h"

namespace {

// Beyond twice the frame's time on the line, the time a driver may take to start sending and to
// report the transmitter empty.
constexpr int64_t kDrainMarginUs = 50'000;
// How often the line-status register is asked while the last characters leave: often enough that
// RTS falls within a fraction of a character, never busier than every 50 us.
constexpr int64_t kMinPollUs = 50;
constexpr int64_t kMaxPollUs = 1'000;

} // namespace

CSerialPort::CSerialPort() : m_pOps(CreateSystemSerialOps()) {}

CSerialPort::CSerialPort(std::unique_ptr<ISerialOps> ops) : m_pOps(std::move(ops)) {
    if (!m_pOps) {
        m_pOps = CreateSystemSerialOps();
    }
}

CSerialPort::~CSerialPort() {
    Close();
}

PortHandle CSerialPort::Open(int port, int speed, int dataBits, int parity, int stopBits) {
    const std::string path = PortDevicePath(port);
    if (path.empty()) {
        Close();
        m_strFailure = "COM" + std::to_string(port) + ": no such port";
        return kNullPortHandle;
    }
    return OpenPath(path, speed, dataBits, parity, stopBits);
}

PortHandle CSerialPort::OpenPath(const std::string& path, int speed, int dataBits, int parity,
                                 int stopBits) {
    // Opening again without a Close would leak the device held so far and keep it locked.
    Close();
    m_strFailure.clear();
    const PortHandle h = m_pOps->OpenDevice(path);
    if (h == kNullPortHandle) {
        m_strFailure = path + ": cannot open the device";
        return kNullPortHandle;
    }
    if (!m_pOps->Configure(h, LineSettings{speed, dataBits, parity, stopBits})) {
        m_pOps->CloseDevice(h);
        m_strFailure = path + ": the driver refuses the line settings";
        return kNullPortHandle;
    }
    m_pOps->SetDtr(h, true);
    m_pOps->SetRts(h, false); // the converter listens to the bus until a frame goes out
    // Last, so that nothing received or queued while the line was being set up survives.
    m_pOps->FlushQueues(h);
    m_hPort = h;
    m_bOpen = true;
    return m_hPort;
}

bool CSerialPort::Close() {
    if (!m_bOpen) {
        return false;
    }
    m_pOps->CloseDevice(m_hPort);
    m_hPort = kNullPortHandle;
    m_bOpen = false;
    return true;
}

bool CSerialPort::Write(const uint8_t* bytes, int count) {
    if (!m_bOpen) {
        return false;
    }
    if (bytes == nullptr || count <= 0) {
        return true; // nothing to send: the bus direction stays as it is
    }
    // The whole transmission is bounded, so that an unplugged or stuck adapter cannot hold the
    // window: twice the frame's time on the line plus a margin.
    const int64_t nDeadlineUs =
        m_pOps->NowUs() + int64_t{2} * count * m_pOps->CharacterTimeUs(m_hPort) + kDrainMarginUs;
    m_pOps->SetRts(m_hPort, true);
    SendAll(bytes, count, nDeadlineUs);
    WaitTransmitterEmpty(nDeadlineUs);
    m_pOps->SetRts(m_hPort, false);
    // Write errors go unnoticed, as the callers expect: the reply's absence tells them.
    return true;
}

int CSerialPort::Read(uint8_t* buffer, int maxCount) {
    if (!m_bOpen || buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    const int n = std::min(m_pOps->InputWaiting(m_hPort), maxCount);
    if (n <= 0) {
        return 0;
    }
    return std::clamp(m_pOps->ReadSome(m_hPort, buffer, n), 0, n);
}

void CSerialPort::SendAll(const uint8_t* bytes, int count, int64_t nDeadlineUs) {
    int nSent = 0;
    while (nSent < count) {
        const int n = m_pOps->WriteSome(m_hPort, bytes + nSent, count - nSent);
        if (n == kWriteFailed) {
            return;
        }
        if (n > 0) {
            nSent += n;
            continue;
        }
        const int64_t nLeftUs = nDeadlineUs - m_pOps->NowUs();
        if (nLeftUs <= 0) {
            return;
        }
        if (n == kWriteWouldBlock && !m_pOps->WaitWritable(m_hPort, nLeftUs)) {
            return;
        }
    }
}

void CSerialPort::WaitTransmitterEmpty(int64_t nDeadlineUs) {
    const int64_t nCharUs = m_pOps->CharacterTimeUs(m_hPort);
    const int64_t nPollUs = std::clamp(nCharUs / 4, kMinPollUs, kMaxPollUs);
    // First the driver's queue: sleep through all but its last character at once.
    for (;;) {
        const int nQueued = m_pOps->OutputQueued(m_hPort);
        const int64_t nLeftUs = nDeadlineUs - m_pOps->NowUs();
        if (nQueued <= 0 || nLeftUs <= 0) {
            break;
        }
        const int64_t nPauseUs = nQueued > 1 ? (nQueued - 1) * nCharUs : nPollUs;
        m_pOps->SleepUs(std::min(nPauseUs, nLeftUs));
    }
    // Then the UART's FIFO and shift register, where the driver can tell.
    for (;;) {
        if (m_pOps->Transmitter(m_hPort) != TransmitterState::Busy) {
            break;
        }
        const int64_t nLeftUs = nDeadlineUs - m_pOps->NowUs();
        if (nLeftUs <= 0) {
            break;
        }
        m_pOps->SleepUs(std::min(nPollUs, nLeftUs));
    }
}
