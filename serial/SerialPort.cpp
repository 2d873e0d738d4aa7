#include "serial/SerialPort.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <optional>
#include <system_error>

#include "serial/LineTiming.h"
#include "serial/PortAddress.h"

namespace {

// Beyond twice the frame's time on the line, the time a driver may take to start sending and to
// report the transmitter empty.
constexpr int64_t kDrainMarginUs = 50'000;
// How often the line-status register is asked while the last characters leave: often enough that
// RTS falls within a fraction of a character, never busier than every 50 us.
constexpr int64_t kMinPollUs = 50;
constexpr int64_t kMaxPollUs = 1'000;

// "9600 bit/s 8N1", as the settings are usually written.
std::string DescribeLine(const LineSettings& line) {
    constexpr std::array<char, 5> kParity = {'N', 'O', 'E', 'M', 'S'};
    const char parity = line.parity >= 0 && line.parity < static_cast<int>(kParity.size())
                            ? kParity[static_cast<size_t>(line.parity)]
                            : '?';
    const char* pszStop = line.stopBits == 0 ? "1" : line.stopBits == 1 ? "1.5" : "2";
    if (line.stopBits < 0 || line.stopBits > 2) {
        pszStop = "?";
    }
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%d bit/s %d%c%s", line.speed, line.dataBits, parity,
                  pszStop);
    return text.data();
}

// Why COMn has no device: the user's count of the ports present tells whether an adapter is
// missing or the number is wrong.
std::string BeyondPortsText(const PortLocation& location) {
    switch (location.nPresent) {
    case 0:
        return "no serial port present";
    case 1:
        return "beyond the 1 serial port present";
    default:
        return "beyond the " + std::to_string(location.nPresent) + " serial ports present";
    }
}

// Speeds every POSIX system names (and Linux's own beyond them): a device server that runs on
// one sets these, and may confirm any other without setting it (some versions of ser2net do, and
// leave their line at speed 0).
constexpr std::array<int, 30> kStandardSpeeds = {
    50,     75,     110,     134,     150,     200,     300,     600,     1200,    1800,
    2400,   4800,   9600,    19200,   38400,   57600,   115200,  230400,  460800,  500000,
    576000, 921600, 1000000, 1152000, 1500000, 2000000, 2500000, 3000000, 3500000, 4000000};

// Why a device server may not set the speed it confirms; empty when it will.
std::string UncertainSpeedText(const std::string& path, int speed) {
    std::string ignored;
    const std::optional<NetworkAddress> address =
        IsNetworkPort(path) ? ParseNetworkAddress(path, ignored) : std::nullopt;
    if (!address || address->protocol != NetworkProtocol::Rfc2217 || speed <= 0 ||
        std::find(kStandardSpeeds.begin(), kStandardSpeeds.end(), speed) != kStandardSpeeds.end()) {
        return {};
    }
    return std::to_string(speed) +
           " bit/s is no standard speed of POSIX systems: a device server may confirm it and "
           "set none (some versions of ser2net do); if no meter answers, choose a standard speed";
}

// The kernel takes its RTS delays in whole milliseconds: never less than asked.
int CeilMs(std::chrono::microseconds us) {
    constexpr int64_t kMaxMs = std::numeric_limits<int>::max();
    return static_cast<int>(std::min((us.count() + 999) / 1000, kMaxMs));
}

} // namespace

CSerialPort::CSerialPort() : m_pOps(CreateSystemSerialOps()) {}

CSerialPort::CSerialPort(std::unique_ptr<ISerialOps> ops) : m_pOps(std::move(ops)) {
    if (!m_pOps) {
        m_pOps = CreateSystemSerialOps();
    }
}

CSerialPort::~CSerialPort() {
    Close();
    Settle();
}

PortHandle CSerialPort::Open(int port, const LineSettings& line) {
    // Read afresh at every open: an adapter plugged in since the last one is found.
    const PortLocation location = LocatePort(port, m_portDirs);
    if (location.device.path.empty()) {
        Settle();
        ReleaseDevice();
        Fail("COM" + std::to_string(port) + ": " + BeyondPortsText(location));
        return kNullPortHandle;
    }
    return OpenPath(location.device.path, line);
}

void CSerialPort::PrepareToOpen(int port) {
    const PortLocation location = LocatePort(port, PortDirectories{});
    if (!location.device.path.empty() && !IsNetworkPort(location.device.path)) {
        PrepareDeviceOpen(location.device.path);
    }
}

PortHandle CSerialPort::Open(int port, int speed, int dataBits, int parity, int stopBits) {
    return Open(port, LineSettings{speed, dataBits, parity, stopBits});
}

PortHandle CSerialPort::OpenPath(const std::string& path, const LineSettings& line) {
    Settle();
    // Opening again without a Close would leak the device held so far and keep it locked.
    ReleaseDevice();
    Apply(Attempt(*m_pOps, Request(path, line)));
    return m_hPort;
}

PortHandle CSerialPort::Reopen() {
    if (m_identity.path.empty()) {
        Settle();
        ReleaseDevice();
        Fail("no device was opened before");
        return kNullPortHandle;
    }
    // A failure leaves a lost port lost: it is still waiting for its own device.
    return OpenPath(m_identity.path, m_line);
}

bool CSerialPort::BeginOpen(int port, const LineSettings& line, std::function<void()> fnDone) {
    const PortLocation location = LocatePort(port, m_portDirs);
    GiveUpOpening();
    ReleaseDevice();
    if (location.device.path.empty()) {
        Fail("COM" + std::to_string(port) + ": " + BeyondPortsText(location));
        return true;
    }
    return Begin(Request(location.device.path, line), std::move(fnDone));
}

bool CSerialPort::BeginReopen(std::function<void()> fnDone) {
    GiveUpOpening();
    ReleaseDevice();
    if (m_identity.path.empty()) {
        Fail("no device was opened before");
        return true;
    }
    return Begin(Request(m_identity.path, m_line), std::move(fnDone));
}

bool CSerialPort::Begin(OpenRequest request, std::function<void()> fnDone) {
    // The ops belong to an open that still runs until it ends: the next one waits for it, and
    // starts when it is taken in.
    if (m_pending) {
        m_queued = Queued{std::move(request), std::move(fnDone)};
        return false;
    }
    if (m_pOps->OpensAtOnce(request.path)) {
        Apply(Attempt(*m_pOps, request));
        return true;
    }
    std::promise<OpenOutcome> promise;
    std::future<OpenOutcome> result = promise.get_future();
    ISerialOps* pOps = m_pOps.get();
    try {
        std::thread thread([pOps, request, promise = std::move(promise), fnDone]() mutable {
            promise.set_value(Attempt(*pOps, request));
            if (fnDone) {
                fnDone();
            }
        });
        m_pending = Pending{std::move(thread), std::move(result), true};
    } catch (const std::system_error&) {
        Apply(Attempt(*m_pOps, request)); // out of threads: rather a wait here than no open
        return true;
    }
    return false;
}

void CSerialPort::GiveUpOpening() {
    if (m_pending) {
        m_pending->bWanted = false;
    }
    m_queued.reset();
}

bool CSerialPort::TakeOpened() {
    if (!m_pending ||
        m_pending->result.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
        return false;
    }
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    OpenOutcome outcome = pending.result.get();
    pending.thread.join(); // it has set its result: what is left is the call of fnDone
    const bool bWanted = pending.bWanted;
    if (!bWanted && outcome.h != kNullPortHandle) {
        m_pOps->CloseDevice(outcome.h);
    }
    if (m_queued) {
        Queued next = std::move(*m_queued);
        m_queued.reset();
        return Begin(std::move(next.request), std::move(next.fnDone));
    }
    if (!bWanted) {
        return false;
    }
    Apply(std::move(outcome));
    return true;
}

void CSerialPort::Settle() {
    m_queued.reset();
    if (!m_pending) {
        return;
    }
    Pending pending = std::move(*m_pending);
    m_pending.reset();
    const OpenOutcome outcome = pending.result.get();
    pending.thread.join();
    if (outcome.h != kNullPortHandle) {
        m_pOps->CloseDevice(outcome.h);
    }
}

CSerialPort::OpenRequest CSerialPort::Request(const std::string& path,
                                              const LineSettings& line) const {
    return {path, line, m_rtsBefore, m_rtsAfter, m_portDirs};
}

CSerialPort::OpenOutcome CSerialPort::Attempt(ISerialOps& ops, const OpenRequest& request) {
    OpenOutcome outcome;
    outcome.request = request;
    const std::string& path = request.path;
    const LineSettings& line = request.line;
    outcome.strWarning = UncertainSpeedText(path, line.speed);
    OpenError error;
    const PortHandle h = ops.OpenDevice(path, error);
    if (h == kNullPortHandle) {
        if (error.kind == OpenFailure::None) {
            error.kind = OpenFailure::Other;
        }
        outcome.strFailure = path + ": " + OpenFailureText(error);
        return outcome;
    }
    if (!ops.Configure(h, line)) {
        const std::string detail = ops.RefusalDetail(h);
        ops.CloseDevice(h);
        // A device server says what it refused, or that it went away meanwhile.
        outcome.strFailure = path + ": " +
                             (detail.empty() ? OpenFailureText({OpenFailure::SettingsRefused, 0}) +
                                                   " (" + DescribeLine(line) + ")"
                                             : detail);
        return outcome;
    }
    // In the kernel's RS485 mode the driver raises RTS around each transmission by itself, and
    // keeps it up for the delays it is given.
    const int beforeMs = CeilMs(request.rtsBefore);
    const int afterMs = CeilMs(request.rtsAfter);
    outcome.bKernelRts = ops.KernelDrivesRts(h);
    if (outcome.bKernelRts && (beforeMs > 0 || afterMs > 0) &&
        !ops.SetKernelRtsDelays(h, beforeMs, afterMs)) {
        const std::string detail = ops.RefusalDetail(h);
        ops.CloseDevice(h);
        outcome.strFailure = path + ": " +
                             (detail.empty() ? "the driver refuses the RTS delays (before " +
                                                   std::to_string(beforeMs) + " ms, after " +
                                                   std::to_string(afterMs) + " ms)"
                                             : detail);
        return outcome;
    }
    ops.SetDtr(h, true);
    if (!outcome.bKernelRts) {
        ops.SetRts(h, false); // the converter listens to the bus until a frame goes out
    }
    // Last, so that nothing received or queued while the line was being set up survives.
    ops.FlushQueues(h);
    outcome.identity = IdentifyDevice(path, request.dirs);
    outcome.h = h;
    return outcome;
}

void CSerialPort::Apply(OpenOutcome outcome) {
    m_strWarning = std::move(outcome.strWarning);
    if (outcome.h == kNullPortHandle) {
        Fail(std::move(outcome.strFailure));
        return;
    }
    m_bKernelRts = outcome.bKernelRts;
    m_line = outcome.request.line;
    m_strOpenedPath = std::move(outcome.request.path);
    m_identity = std::move(outcome.identity);
    m_hPort = outcome.h;
    Enter(DeviceState::Held);
    m_strFailure.clear();
}

void CSerialPort::SetRtsDelays(std::chrono::microseconds before, std::chrono::microseconds after) {
    m_rtsBefore = std::max(before, std::chrono::microseconds{0});
    m_rtsAfter = std::max(after, std::chrono::microseconds{0});
}

bool CSerialPort::Close() {
    GiveUpOpening();
    const bool bHeld = m_state == DeviceState::Held;
    ReleaseDevice();
    Enter(DeviceState::None); // a lost device is no longer waited for either
    return bHeld;
}

void CSerialPort::Enter(DeviceState state) {
    m_state = state;
    m_bOpen = state == DeviceState::Held;
}

void CSerialPort::ReleaseDevice() {
    if (m_state != DeviceState::Held) {
        return;
    }
    m_pOps->CloseDevice(m_hPort);
    m_hPort = kNullPortHandle;
    Enter(DeviceState::None);
}

void CSerialPort::LoseDevice() {
    ReleaseDevice();
    Enter(DeviceState::Lost);
}

void CSerialPort::Fail(std::string reason) {
    m_strFailure = std::move(reason);
}

bool CSerialPort::Write(const uint8_t* bytes, int count) {
    if (!m_bOpen) {
        return false;
    }
    if (bytes == nullptr || count <= 0) {
        return true; // nothing to send: the bus direction stays as it is
    }
    m_nInputSeenUs = 0;
    if (!m_bKernelRts) {
        m_pOps->SetRts(m_hPort, true);
        if (m_rtsBefore.count() > 0) {
            Pause(m_rtsBefore.count());
        }
    }
    // Where we drive RTS and cannot ask the transmitter, RTS stays up a guard beyond the frame's
    // computed end. The whole transmission is bounded, so that an unplugged or stuck adapter
    // cannot hold the window: twice the frame's time on the line plus a margin, with room for the
    // guard even where it is longer than the frame (a single slow character).
    const int64_t nGuardUs = m_bKernelRts ? 0 : RtsGuardUs(m_line);
    const int64_t nFrameUs = LineTimeUs(m_line, count);
    const int64_t nDeadlineUs =
        m_pOps->NowUs() + std::max(2 * nFrameUs, nFrameUs + nGuardUs) + kDrainMarginUs;
    const SendResult sent = SendAll(bytes, count, nDeadlineUs);
    if (sent.nSent > 0 && !sent.bGone) {
        WaitTransmitterEmpty(sent.nFirstHandedUs + LineTimeUs(m_line, sent.nSent), nGuardUs,
                             nDeadlineUs);
    }
    if (!m_bKernelRts) {
        if (m_rtsAfter.count() > 0 && !sent.bGone) {
            Pause(m_rtsAfter.count());
        }
        m_pOps->SetRts(m_hPort, false);
    }
    if (m_bWatchInput) {
        m_nWriteEndUs = m_pOps->NowUs();
    }
    if (sent.bGone) {
        LoseDevice();
    }
    // Write errors go unnoticed, as the callers expect: the reply's absence tells them.
    return true;
}

int CSerialPort::Read(uint8_t* buffer, int maxCount) {
    if (!m_bOpen || buffer == nullptr || maxCount <= 0) {
        return 0;
    }
    const int nWaiting = m_pOps->InputWaiting(m_hPort);
    if (nWaiting == kDeviceGone) {
        LoseDevice();
        return 0;
    }
    const int n = std::min(nWaiting, maxCount);
    if (n <= 0) {
        return 0;
    }
    const int nRead = m_pOps->ReadSome(m_hPort, buffer, n);
    if (nRead == kDeviceGone) {
        LoseDevice();
        return 0;
    }
    return std::clamp(nRead, 0, n);
}

bool CSerialPort::WaitForInput(std::chrono::microseconds timeout) {
    return m_bOpen && m_pOps->WaitInput(m_hPort, timeout.count());
}

std::optional<std::chrono::microseconds> CSerialPort::InputSeenBeforeWriteEnd() const {
    if (m_nInputSeenUs == 0) {
        return std::nullopt;
    }
    return std::chrono::microseconds(std::max<int64_t>(m_nWriteEndUs - m_nInputSeenUs, 0));
}

void CSerialPort::Pause(int64_t us) {
    if (us <= 0) {
        return;
    }
    if (m_bWatchInput && m_nInputSeenUs == 0) {
        // Waiting for input takes the same time as the sleep, but tells when the first byte came.
        const int64_t nStartUs = m_pOps->NowUs();
        if (m_pOps->WaitInput(m_hPort, us)) {
            m_nInputSeenUs = m_pOps->NowUs();
        }
        us -= m_pOps->NowUs() - nStartUs;
        if (us <= 0) {
            return;
        }
    }
    m_pOps->SleepUs(us);
}

CSerialPort::SendResult CSerialPort::SendAll(const uint8_t* bytes, int count, int64_t nDeadlineUs) {
    SendResult result;
    while (result.nSent < count) {
        const int n = m_pOps->WriteSome(m_hPort, bytes + result.nSent, count - result.nSent);
        if (n == kDeviceGone) {
            result.bGone = true;
            return result;
        }
        if (n == kWriteFailed) {
            return result;
        }
        if (n > 0) {
            if (result.nSent == 0) {
                result.nFirstHandedUs = m_pOps->NowUs();
            }
            result.nSent += n;
            continue;
        }
        const int64_t nLeftUs = nDeadlineUs - m_pOps->NowUs();
        if (nLeftUs <= 0) {
            return result;
        }
        if (n == kWriteWouldBlock && !m_pOps->WaitWritable(m_hPort, nLeftUs)) {
            return result;
        }
    }
    return result;
}

void CSerialPort::WaitTransmitterEmpty(int64_t nLineEndUs, int64_t nGuardUs, int64_t nDeadlineUs) {
    const int64_t nCharUs = LineTimeUs(m_line, 1);
    const int64_t nPollUs = std::clamp(nCharUs / 4, kMinPollUs, kMaxPollUs);
    // First the driver's queue: sleep through all but its last character at once.
    for (;;) {
        const int nQueued = m_pOps->OutputQueued(m_hPort);
        const int64_t nLeftUs = nDeadlineUs - m_pOps->NowUs();
        if (nQueued <= 0 || nLeftUs <= 0) {
            break;
        }
        const int64_t nPauseUs = nQueued > 1 ? (nQueued - 1) * nCharUs : nPollUs;
        Pause(std::min(nPauseUs, nLeftUs));
    }
    // Then the UART's FIFO and shift register: where the driver can tell, until it says empty;
    // where it cannot (most USB adapters, a pseudo-terminal), until the frame's time on the line
    // has passed since its first byte was handed over, and the guard after it: the adapter may
    // have started sending later than the hand-over.
    for (;;) {
        const TransmitterState state = m_pOps->Transmitter(m_hPort);
        const int64_t nNowUs = m_pOps->NowUs();
        if (state == TransmitterState::Empty || nNowUs >= nDeadlineUs) {
            return;
        }
        if (state == TransmitterState::Unknown) {
            const int64_t nEndUs = std::min(nLineEndUs + nGuardUs, nDeadlineUs);
            if (nNowUs < nEndUs) {
                Pause(nEndUs - nNowUs);
            }
            return;
        }
        Pause(std::min(nPollUs, nDeadlineUs - nNowUs));
    }
}
