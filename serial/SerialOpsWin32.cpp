#include "serial/NetworkSerialOps.h"

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <vector>

#include <windows.h>

#include <mmsystem.h>

#include "serial/CommStateWin32.h"
#include "serial/DeviceErrorWin32.h"
#include "serial/TextWin32.h"
#include "serial/TransmitEmptyWin32.h"

// Windows 10 1803 and later; older headers lack the name, older systems refuse the flag.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace {

constexpr DWORD kQueueBytes = 4096;
constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
// How long an operation that was told to stop (a purge, a new event mask, a cancel) may take to
// report back before it is given up.
constexpr DWORD kSettleMs = 200;
// The most one read takes: the driver's input queue.
constexpr int kRxBufferBytes = static_cast<int>(kQueueBytes);

HANDLE DeviceOf(PortHandle h) {
    return reinterpret_cast<HANDLE>(h);
}

// One overlapped operation: its record, its manual-reset event, and whether the system still
// owes its result (the record and the buffer must then stay as they are).
class COverlappedOp {
public:
    COverlappedOp() : m_hEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
    ~COverlappedOp() {
        if (m_hEvent != nullptr) {
            CloseHandle(m_hEvent);
        }
    }
    COverlappedOp(const COverlappedOp&) = delete;
    COverlappedOp& operator=(const COverlappedOp&) = delete;

    bool IsUsable() const { return m_hEvent != nullptr; }
    HANDLE Event() const { return m_hEvent; }

    // A fresh record for the next operation.
    OVERLAPPED* Prepare() {
        m_ov = OVERLAPPED{};
        m_ov.hEvent = m_hEvent;
        ResetEvent(m_hEvent);
        return &m_ov;
    }
    // After the call that took the record: in progress or done, its result is still to collect.
    void Started() { m_bOwed = true; }
    bool IsOwed() const { return m_bOwed; }
    bool IsRunning() const { return m_bOwed && !HasOverlappedIoCompleted(&m_ov); }

    // The result of a finished operation: false while it runs; nError is 0 on success.
    bool Collect(HANDLE hDevice, DWORD& nDone, DWORD& nError) {
        nDone = 0;
        nError = 0;
        if (!m_bOwed) {
            return true;
        }
        if (!GetOverlappedResult(hDevice, &m_ov, &nDone, FALSE)) {
            nError = GetLastError();
            if (nError == ERROR_IO_INCOMPLETE) {
                return false;
            }
        }
        m_bOwed = false;
        return true;
    }

    // Waits a little for an operation that was told to stop, cancels it if it has not, and
    // collects it. False when the driver still holds it: the record cannot be used again.
    bool Settle(HANDLE hDevice) {
        if (!m_bOwed) {
            return true;
        }
        if (WaitForSingleObject(m_hEvent, kSettleMs) != WAIT_OBJECT_0) {
            CancelIoEx(hDevice, &m_ov);
            if (WaitForSingleObject(m_hEvent, kSettleMs) != WAIT_OBJECT_0) {
                return false;
            }
        }
        DWORD nDone = 0;
        DWORD nError = 0;
        return Collect(hDevice, nDone, nError);
    }

    // The device is closed: the system owes nothing any more.
    void Forget() { m_bOwed = false; }

private:
    HANDLE m_hEvent;
    OVERLAPPED m_ov{};
    bool m_bOwed = false;
};

// A serial port through the Windows communications calls, on a handle opened for overlapped
// transfers so that no call waits longer than the port class allows: a synchronous handle would
// block in WriteFile or WaitCommEvent for as long as the driver likes, and the system serialises
// every call on such a handle, so nothing could cut the wait short.
//
// A write hands its bytes to the driver and returns; the end of the frame is then known from the
// driver's count of bytes still to send (ClearCommError's cbOutQue), the write's completion and
// the transmit-empty event (EV_TXEMPTY, awaited with WaitCommEvent). The port class polls those
// through OutputQueued and bounds the whole wait. The event alone is not trusted to mean that the
// last stop bit has left: a UART's driver signals it with the last character still in the shift
// register, and USB adapters' drivers once their buffer has gone over the bus. The line-status
// register is out of reach on Windows, so Transmitter answers Unknown and the port class also
// waits out the frame's time on the line since its first byte.
//
// Every failed call on the open port is read through the one table of error codes: once a call
// says the device has gone, every later one reports kDeviceGone until the port is opened again,
// so that the port class closes it and its owner reopens it when it is back.
class CWin32SerialOps final : public ISerialOps {
public:
    CWin32SerialOps() {
        m_hTimer = CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                          TIMER_ALL_ACCESS);
        if (m_hTimer == nullptr) {
            // Without a high-resolution timer, sleeps are as coarse as the system's clock tick
            // (15.6 ms by default): ask for 1 ms for as long as the port exists.
            m_bCoarseTimer = timeBeginPeriod(1) == TIMERR_NOERROR;
            m_hTimer = CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
        }
        LARGE_INTEGER frequency{};
        QueryPerformanceFrequency(&frequency);
        m_nTicksPerSecond = frequency.QuadPart > 0 ? frequency.QuadPart : 1;
    }

    ~CWin32SerialOps() override {
        if (m_hDevice != INVALID_HANDLE_VALUE) {
            CloseDevice(reinterpret_cast<PortHandle>(m_hDevice));
        }
        if (m_hTimer != nullptr) {
            CloseHandle(m_hTimer);
        }
        if (m_bCoarseTimer) {
            timeEndPeriod(1);
        }
    }

    CWin32SerialOps(const CWin32SerialOps&) = delete;
    CWin32SerialOps& operator=(const CWin32SerialOps&) = delete;

    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        error = {};
        if (!m_write.IsUsable() || !m_txEmpty.IsUsable() || !m_read.IsUsable()) {
            return Refuse(error, OpenFailure::Other, ERROR_NOT_ENOUGH_MEMORY);
        }
        // Exclusive (no sharing), an existing device only, overlapped transfers. The wide call,
        // since paths are UTF-8 here and the ANSI one would read them in the ANSI code page.
        const HANDLE hDevice =
            CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                        OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        if (hDevice == INVALID_HANDLE_VALUE) {
            const DWORD nError = GetLastError();
            OpenFailure kind = OpenFailureOfError(nError);
            if (kind == OpenFailure::InUse && IsFileSystemPath(path)) {
                kind = OpenFailure::NotSerial; // a folder or a read-only file, not a busy port
            }
            return Refuse(error, kind, nError);
        }
        // A disk file, a pipe or the null device opens too: only a driver that keeps a line's
        // settings is a serial port. Its settings are kept for CloseDevice.
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        COMMTIMEOUTS timeouts{};
        if (GetFileType(hDevice) != FILE_TYPE_CHAR || !GetCommState(hDevice, &dcb) ||
            !GetCommTimeouts(hDevice, &timeouts)) {
            CloseHandle(hDevice);
            return Refuse(error, OpenFailure::NotSerial, 0);
        }
        // Drivers without queues of their own (most USB adapters) may refuse the sizes: harmless.
        SetupComm(hDevice, kQueueBytes, kQueueBytes);
        SetCommMask(hDevice, EV_TXEMPTY);
        m_hDevice = hDevice;
        m_savedDcb = dcb;
        m_savedTimeouts = timeouts;
        m_bTxEmptyUnreliable = false;
        m_bGone = false;
        m_vecAhead.clear();
        return reinterpret_cast<PortHandle>(hDevice);
    }

    void CloseDevice(PortHandle h) override {
        const HANDLE hDevice = DeviceOf(h);
        if (hDevice == INVALID_HANDLE_VALUE || hDevice != m_hDevice) {
            return; // not a device this object opened
        }
        // A frame that a stuck transmitter still holds is dropped, not waited for.
        if (m_write.IsOwed()) {
            PurgeComm(hDevice, PURGE_TXABORT | PURGE_TXCLEAR);
            m_write.Settle(hDevice);
        }
        if (m_txEmpty.IsOwed()) {
            SetCommMask(hDevice, 0); // ends the pending wait
            m_txEmpty.Settle(hDevice);
        }
        if (m_read.IsOwed()) {
            PurgeComm(hDevice, PURGE_RXABORT);
            m_read.Settle(hDevice);
        }
        SetCommState(hDevice, &m_savedDcb);
        SetCommTimeouts(hDevice, &m_savedTimeouts);
        CloseHandle(hDevice);
        m_write.Forget();
        m_txEmpty.Forget();
        m_read.Forget();
        m_vecAhead.clear();
        m_hDevice = INVALID_HANDLE_VALUE;
    }

    bool Configure(PortHandle h, const LineSettings& settings) override {
        const HANDLE hDevice = DeviceOf(h);
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        if (!GetCommState(hDevice, &dcb) || !SetLineInDcb(dcb, settings) ||
            !SetCommState(hDevice, &dcb)) {
            return false;
        }
        COMMTIMEOUTS timeouts = FirstByteReadTimeouts();
        return SetCommTimeouts(hDevice, &timeouts) != FALSE;
    }

    void FlushQueues(PortHandle h) override {
        m_vecAhead.clear(); // received too, only taken from the driver earlier
        if (!PurgeComm(DeviceOf(h), kPurgeAll)) {
            NoteError(GetLastError());
        }
    }

    void SetDtr(PortHandle h, bool bOn) override {
        if (!EscapeCommFunction(DeviceOf(h), bOn ? SETDTR : CLRDTR)) {
            NoteError(GetLastError());
        }
    }
    void SetRts(PortHandle h, bool bOn) override {
        if (!EscapeCommFunction(DeviceOf(h), bOn ? SETRTS : CLRRTS)) {
            NoteError(GetLastError());
        }
    }

    bool KernelDrivesRts(PortHandle) override {
        return false; // RTS stays under the port's control (RTS_CONTROL_DISABLE)
    }

    // Takes all bytes at once: they are copied and written in one overlapped transfer.
    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        const HANDLE hDevice = DeviceOf(h);
        bool bEarlierWriteDone = true;
        if (!FinishEarlierWrite(hDevice, bEarlierWriteDone)) {
            return m_bGone ? kDeviceGone : kWriteFailed;
        }
        if (m_bGone) {
            return kDeviceGone;
        }
        ArmTransmitEmpty(hDevice, bEarlierWriteDone);
        m_txBuffer.assign(bytes, bytes + count);
        OVERLAPPED* pOv = m_write.Prepare();
        if (!WriteFile(hDevice, m_txBuffer.data(), static_cast<DWORD>(count), nullptr, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                return NoteError(nError) ? kDeviceGone : kWriteFailed;
            }
        }
        m_write.Started();
        return count;
    }

    bool WaitWritable(PortHandle, int64_t timeoutUs) override {
        if (!m_write.IsRunning()) {
            return true;
        }
        return WaitForSingleObject(m_write.Event(), Milliseconds(timeoutUs)) == WAIT_OBJECT_0;
    }

    // The driver's count while it has one; then 1 for as long as the write has not completed or
    // the transmit-empty event has not come, so that the port class keeps polling. -1 once the
    // device has gone: the port class stops waiting, and the next read reports it.
    int OutputQueued(PortHandle h) override {
        const HANDLE hDevice = DeviceOf(h);
        if (m_bGone) {
            return -1;
        }
        COMSTAT status{};
        DWORD nErrors = 0;
        if (!ClearCommError(hDevice, &nErrors, &status)) {
            NoteError(GetLastError());
            return -1;
        }
        if (status.cbOutQue > 0) {
            return static_cast<int>(std::min<DWORD>(status.cbOutQue, INT_MAX));
        }
        if (WriteRunning(hDevice) || TransmitEmptyPending(hDevice)) {
            return 1;
        }
        return m_bGone ? -1 : 0;
    }

    TransmitterState Transmitter(PortHandle) override { return TransmitterState::Unknown; }

    // What a wait for input took from the driver ahead, then the driver's own queue.
    int InputWaiting(PortHandle h) override {
        if (m_bGone) {
            return kDeviceGone;
        }
        const int nQueued = DriverQueued(DeviceOf(h));
        if (nQueued < 0) {
            return m_vecAhead.empty() ? kDeviceGone : static_cast<int>(m_vecAhead.size());
        }
        return static_cast<int>(
            std::min<size_t>(m_vecAhead.size() + static_cast<size_t>(nQueued), INT_MAX));
    }

    // The bytes a wait for input took first, then no more of the driver's than it holds now, so
    // that the read never waits for the first byte to come.
    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        if (m_bGone) {
            return kDeviceGone;
        }
        const size_t nAhead = std::min(m_vecAhead.size(), static_cast<size_t>(std::max(count, 0)));
        std::copy_n(m_vecAhead.begin(), nAhead, buffer);
        m_vecAhead.erase(m_vecAhead.begin(),
                         m_vecAhead.begin() + static_cast<std::ptrdiff_t>(nAhead));
        const int nLeft = count - static_cast<int>(nAhead);
        if (nLeft <= 0) {
            return static_cast<int>(nAhead);
        }
        const int nQueued = DriverQueued(DeviceOf(h));
        if (nQueued <= 0) {
            return nAhead > 0 || nQueued == 0 ? static_cast<int>(nAhead) : kDeviceGone;
        }
        const int nRead = ReadDriver(DeviceOf(h), std::min(nLeft, nQueued), buffer + nAhead);
        if (nRead < 0) {
            return nAhead > 0 ? static_cast<int>(nAhead) : nRead;
        }
        return static_cast<int>(nAhead) + nRead;
    }

    // An overlapped read of one byte, which the time-outs hold until that byte has come: its
    // event is the wait. (One byte, not what is there: wine completes a longer read only when it
    // is full.) What it takes is kept ahead for the next reads. A wait that runs out cancels it;
    // a byte it had taken by then still counts.
    bool WaitInput(PortHandle h, int64_t timeoutUs) override {
        const HANDLE hDevice = DeviceOf(h);
        if (m_bGone || !m_vecAhead.empty() || DriverQueued(hDevice) != 0) {
            return true; // bytes to read, or the device is gone
        }
        if (!m_read.Settle(hDevice)) {
            return false; // an earlier read is still held by the driver
        }
        OVERLAPPED* pOv = m_read.Prepare();
        if (!ReadFile(hDevice, m_rxBuffer.data(), 1, nullptr, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                if (NoteError(nError)) {
                    return true;
                }
                SleepUs(timeoutUs); // a driver that refuses the read: the wait still takes its time
                return DriverQueued(hDevice) != 0;
            }
        }
        m_read.Started();
        const bool bCame = WaitForEvent(m_read.Event(), timeoutUs);
        if (!bCame) {
            CancelIoEx(hDevice, pOv);
            if (WaitForSingleObject(m_read.Event(), kSettleMs) != WAIT_OBJECT_0) {
                return false; // the next read settles it
            }
        }
        DWORD nDone = 0;
        DWORD nError = 0;
        m_read.Collect(hDevice, nDone, nError);
        const bool bOwnCancel = !bCame && nError == ERROR_OPERATION_ABORTED;
        if (nError != 0 && nDone == 0 && !bOwnCancel) {
            NoteError(nError);
        }
        m_vecAhead.insert(m_vecAhead.end(), m_rxBuffer.begin(),
                          m_rxBuffer.begin() + std::min<DWORD>(nDone, kRxBufferBytes));
        return m_bGone || !m_vecAhead.empty();
    }

    int64_t NowUs() override {
        LARGE_INTEGER counter{};
        QueryPerformanceCounter(&counter);
        const int64_t nTicks = counter.QuadPart;
        return nTicks / m_nTicksPerSecond * 1'000'000 +
               nTicks % m_nTicksPerSecond * 1'000'000 / m_nTicksPerSecond;
    }

    // Never shorter than asked: the port class relies on that for the frame's time on the line.
    void SleepUs(int64_t us) override {
        if (us <= 0) {
            return;
        }
        const int64_t nEndUs = NowUs() + us;
        LARGE_INTEGER due{};
        due.QuadPart = -us * 10; // relative, in 100 ns units
        if (m_hTimer != nullptr && SetWaitableTimer(m_hTimer, &due, 0, nullptr, nullptr, FALSE)) {
            WaitForSingleObject(m_hTimer, Milliseconds(us) + 1'000);
        } else {
            Sleep(Milliseconds(us));
        }
        while (NowUs() < nEndUs) {
            SwitchToThread();
        }
    }

private:
    static PortHandle Refuse(OpenError& error, OpenFailure kind, DWORD nError) {
        error = OpenError{kind, static_cast<int>(nError)};
        return kNullPortHandle;
    }

    // Waits at most us microseconds for the event, as closely as SleepUs keeps its time: the
    // port pauses so while a frame goes out, and a wait in whole clock ticks (15.6 ms by default)
    // would hold RTS up too long. True when the event came.
    bool WaitForEvent(HANDLE hEvent, int64_t us) {
        if (us <= 0) {
            return WaitForSingleObject(hEvent, 0) == WAIT_OBJECT_0;
        }
        LARGE_INTEGER due{};
        due.QuadPart = -us * 10; // relative, in 100 ns units
        if (m_hTimer != nullptr && SetWaitableTimer(m_hTimer, &due, 0, nullptr, nullptr, FALSE)) {
            const std::array<HANDLE, 2> handles = {hEvent, m_hTimer};
            return WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                          Milliseconds(us) + 1'000) == WAIT_OBJECT_0;
        }
        return WaitForSingleObject(hEvent, Milliseconds(us)) == WAIT_OBJECT_0;
    }

    // Reads what an error of a call on the open port means; true once the device has gone.
    bool NoteError(DWORD nError) {
        if (IsDeviceGoneError(nError)) {
            m_bGone = true;
        }
        return m_bGone;
    }

    static DWORD Milliseconds(int64_t us) {
        return static_cast<DWORD>(std::clamp<int64_t>((us + 999) / 1000, 0, INT_MAX));
    }

    // The bytes the driver holds received; -1 once the device has gone.
    int DriverQueued(HANDLE hDevice) {
        COMSTAT status{};
        DWORD nErrors = 0; // line errors are cleared here and otherwise ignored
        if (!ClearCommError(hDevice, &nErrors, &status)) {
            return NoteError(GetLastError()) ? -1 : 0;
        }
        return static_cast<int>(std::min<DWORD>(status.cbInQue, INT_MAX));
    }

    // Reads count bytes that the driver holds into a buffer of its own and copies them out: a
    // read that the driver will not give back is left with it, and the caller's buffer is never
    // written after the call returns. The number read, or kDeviceGone.
    int ReadDriver(HANDLE hDevice, int count, uint8_t* buffer) {
        if (!m_read.Settle(hDevice)) {
            return 0; // an earlier read is still held by the driver
        }
        const DWORD nWanted = static_cast<DWORD>(std::clamp<int>(count, 0, kRxBufferBytes));
        OVERLAPPED* pOv = m_read.Prepare();
        if (!ReadFile(hDevice, m_rxBuffer.data(), nWanted, nullptr, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                return NoteError(nError) ? kDeviceGone : 0;
            }
        }
        m_read.Started();
        // The bytes are there, so the read completes at once. A driver that takes longer is
        // cancelled; the bytes it had delivered by then still count.
        bool bCancelled = false;
        if (WaitForSingleObject(m_read.Event(), kSettleMs) != WAIT_OBJECT_0) {
            CancelIoEx(hDevice, pOv);
            bCancelled = true;
            if (WaitForSingleObject(m_read.Event(), kSettleMs) != WAIT_OBJECT_0) {
                return 0;
            }
        }
        DWORD nDone = 0;
        DWORD nError = 0;
        m_read.Collect(hDevice, nDone, nError);
        // An abort after our own cancel is ours; any other failure goes through the table.
        const bool bOwnCancel = bCancelled && nError == ERROR_OPERATION_ABORTED;
        if (nError != 0 && nDone == 0 && !bOwnCancel && NoteError(nError)) {
            return kDeviceGone;
        }
        const DWORD nCopied = std::min(nDone, nWanted);
        std::memcpy(buffer, m_rxBuffer.data(), nCopied);
        return static_cast<int>(nCopied);
    }

    // A write still running here belongs to an earlier frame whose wait ran out (a stuck
    // adapter): it is aborted, since its bytes would now go out with RTS down. False when the
    // driver will not let go of it, and its buffer with it.
    bool FinishEarlierWrite(HANDLE hDevice, bool& bDone) {
        bDone = !WriteRunning(hDevice);
        if (bDone) {
            return true;
        }
        PurgeComm(hDevice, PURGE_TXABORT | PURGE_TXCLEAR);
        return m_write.Settle(hDevice);
    }

    // True while the frame's write is with the driver. A write that failed because the device
    // went away marks it gone; any other failure of it goes unnoticed, as the port class wants.
    bool WriteRunning(HANDLE hDevice) {
        DWORD nDone = 0;
        DWORD nError = 0;
        if (!m_write.Collect(hDevice, nDone, nError)) {
            return true;
        }
        if (nError != 0) {
            NoteError(nError);
        }
        return false;
    }

    // A new wait for the transmit-empty event of this frame. Setting the event mask ends a wait
    // still pending and forgets events seen before, so that only this frame's end satisfies it.
    // A wait still pending although the earlier frame's write had completed means the driver
    // never reported that frame's end: its event is then not waited for any more on this device,
    // so that every later frame is not held until the bound.
    void ArmTransmitEmpty(HANDLE hDevice, bool bEarlierWriteDone) {
        if (m_txEmpty.IsRunning() && bEarlierWriteDone) {
            m_bTxEmptyUnreliable = true;
        }
        SetCommMask(hDevice, EV_TXEMPTY);
        if (!m_txEmpty.Settle(hDevice)) {
            m_bTxEmptyUnreliable = true;
            return;
        }
        if (!m_bTxEmptyUnreliable) {
            StartTransmitEmptyWait(hDevice);
        }
    }

    // False when the wait could not be started; what its error means is then noted.
    bool StartTransmitEmptyWait(HANDLE hDevice) {
        m_nEvents = 0;
        OVERLAPPED* pOv = m_txEmpty.Prepare();
        if (!WaitCommEvent(hDevice, &m_nEvents, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                Apply(JudgeTransmitEmptyWait(false, nError, 0));
                return false;
            }
        }
        m_txEmpty.Started();
        return true;
    }

    // True while this frame's transmit-empty event is still to come. Only a wait that ended with
    // EV_TXEMPTY among its events ends it; one that ended otherwise is started again, and one that
    // failed gives the event up for this device (or finds it gone) rather than count as "empty".
    bool TransmitEmptyPending(HANDLE hDevice) {
        if (m_bTxEmptyUnreliable || !m_txEmpty.IsOwed()) {
            return false;
        }
        DWORD nDone = 0;
        DWORD nError = 0;
        if (!m_txEmpty.Collect(hDevice, nDone, nError)) {
            return true;
        }
        const TransmitEmptyVerdict verdict = JudgeTransmitEmptyWait(nError == 0, nError, m_nEvents);
        if (verdict == TransmitEmptyVerdict::WaitAgain) {
            return StartTransmitEmptyWait(hDevice);
        }
        Apply(verdict);
        return false;
    }

    void Apply(TransmitEmptyVerdict verdict) {
        if (verdict == TransmitEmptyVerdict::Gone && !StatusSaysGone()) {
            // Wine ends the wait so on a live pseudo-terminal, and a driver may end a wait it
            // cannot serve the same way: the error alone does not say the device went.
            verdict = TransmitEmptyVerdict::GiveUp;
        }
        if (verdict == TransmitEmptyVerdict::GiveUp) {
            m_bTxEmptyUnreliable = true;
        }
    }

    // Asks the port's status: true (and noted) when the device has gone.
    bool StatusSaysGone() {
        COMSTAT status{};
        DWORD nErrors = 0;
        if (ClearCommError(m_hDevice, &nErrors, &status)) {
            return m_bGone;
        }
        return NoteError(GetLastError());
    }

    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    DCB m_savedDcb{};
    COMMTIMEOUTS m_savedTimeouts{};
    COverlappedOp m_write;
    COverlappedOp m_txEmpty;
    COverlappedOp m_read;
    std::vector<uint8_t> m_txBuffer;
    std::array<uint8_t, kRxBufferBytes> m_rxBuffer{};
    std::vector<uint8_t> m_vecAhead; // received by a wait for input, not read yet
    DWORD m_nEvents = 0;             // written by the pending WaitCommEvent
    bool m_bTxEmptyUnreliable = false;
    bool m_bGone = false; // a call on the open device found it gone
    HANDLE m_hTimer = nullptr;
    bool m_bCoarseTimer = false;
    int64_t m_nTicksPerSecond = 1;
};

} // namespace

std::unique_ptr<ISerialOps> CreateDeviceSerialOps() {
    return std::make_unique<CWin32SerialOps>();
}

void PrepareDeviceOpen(const std::string& /*path*/) {
    // CreateFile refuses a device another program holds: there is nothing to search beforehand.
}

std::unique_ptr<ISerialOps> CreateDeviceSerialOps(std::string_view) {
    // Windows has no kernel console on a serial port to keep clear of.
    return std::make_unique<CWin32SerialOps>();
}
