#include "serial/SerialOps.h"

#include <algorithm>
#include <climits>
#include <vector>

#include <windows.h>

#include <mmsystem.h>

#include "serial/CommStateWin32.h"
#include "serial/DeviceErrorWin32.h"

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
        // Exclusive (no sharing), an existing device only, overlapped transfers.
        const HANDLE hDevice = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
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
        SetCommState(hDevice, &m_savedDcb);
        SetCommTimeouts(hDevice, &m_savedTimeouts);
        CloseHandle(hDevice);
        m_write.Forget();
        m_txEmpty.Forget();
        m_read.Forget();
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
        COMMTIMEOUTS timeouts = ImmediateReadTimeouts();
        return SetCommTimeouts(hDevice, &timeouts) != FALSE;
    }

    void FlushQueues(PortHandle h) override { PurgeComm(DeviceOf(h), kPurgeAll); }

    void SetDtr(PortHandle h, bool bOn) override {
        EscapeCommFunction(DeviceOf(h), bOn ? SETDTR : CLRDTR);
    }
    void SetRts(PortHandle h, bool bOn) override {
        EscapeCommFunction(DeviceOf(h), bOn ? SETRTS : CLRRTS);
    }

    bool KernelDrivesRts(PortHandle) override {
        return false; // RTS stays under the port's control (RTS_CONTROL_DISABLE)
    }

    // Takes all bytes at once: they are copied and written in one overlapped transfer.
    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        const HANDLE hDevice = DeviceOf(h);
        bool bEarlierWriteDone = true;
        if (!FinishEarlierWrite(hDevice, bEarlierWriteDone)) {
            return kWriteFailed;
        }
        ArmTransmitEmpty(hDevice, bEarlierWriteDone);
        m_txBuffer.assign(bytes, bytes + count);
        OVERLAPPED* pOv = m_write.Prepare();
        if (!WriteFile(hDevice, m_txBuffer.data(), static_cast<DWORD>(count), nullptr, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                return IsDeviceGoneError(nError) ? kDeviceGone : kWriteFailed;
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
    // the transmit-empty event has not come, so that the port class keeps polling.
    int OutputQueued(PortHandle h) override {
        COMSTAT status{};
        DWORD nErrors = 0;
        if (!ClearCommError(DeviceOf(h), &nErrors, &status)) {
            return -1;
        }
        if (status.cbOutQue > 0) {
            return static_cast<int>(std::min<DWORD>(status.cbOutQue, INT_MAX));
        }
        if (m_write.IsRunning()) {
            return 1;
        }
        return !m_bTxEmptyUnreliable && m_txEmpty.IsRunning() ? 1 : 0;
    }

    TransmitterState Transmitter(PortHandle) override { return TransmitterState::Unknown; }

    int InputWaiting(PortHandle h) override {
        COMSTAT status{};
        DWORD nErrors = 0; // line errors are cleared here and otherwise ignored
        if (!ClearCommError(DeviceOf(h), &nErrors, &status)) {
            return IsDeviceGoneError(GetLastError()) ? kDeviceGone : 0;
        }
        return static_cast<int>(std::min<DWORD>(status.cbInQue, INT_MAX));
    }

    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        const HANDLE hDevice = DeviceOf(h);
        OVERLAPPED* pOv = m_read.Prepare();
        if (!ReadFile(hDevice, buffer, static_cast<DWORD>(count), nullptr, pOv)) {
            const DWORD nError = GetLastError();
            if (nError != ERROR_IO_PENDING) {
                return IsDeviceGoneError(nError) ? kDeviceGone : 0;
            }
        }
        m_read.Started();
        // The time-outs make the read complete at once with what is waiting. A driver that takes
        // longer is cancelled; the bytes it had delivered by then still count. The read goes into
        // the caller's buffer, so its result is awaited in any case.
        if (WaitForSingleObject(m_read.Event(), kSettleMs) != WAIT_OBJECT_0) {
            CancelIoEx(hDevice, pOv);
        }
        DWORD nDone = 0;
        if (!GetOverlappedResult(hDevice, pOv, &nDone, TRUE) && nDone == 0 &&
            IsDeviceGoneError(GetLastError())) {
            m_read.Forget();
            return kDeviceGone;
        }
        m_read.Forget();
        return static_cast<int>(std::min<DWORD>(nDone, static_cast<DWORD>(count)));
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

    static DWORD Milliseconds(int64_t us) {
        return static_cast<DWORD>(std::clamp<int64_t>((us + 999) / 1000, 0, INT_MAX));
    }

    // A write still running here belongs to an earlier frame whose wait ran out (a stuck
    // adapter): it is aborted, since its bytes would now go out with RTS down. False when the
    // driver will not let go of it, and its buffer with it.
    bool FinishEarlierWrite(HANDLE hDevice, bool& bDone) {
        DWORD nDone = 0;
        DWORD nError = 0;
        bDone = m_write.Collect(hDevice, nDone, nError);
        if (bDone) {
            return true;
        }
        PurgeComm(hDevice, PURGE_TXABORT | PURGE_TXCLEAR);
        return m_write.Settle(hDevice);
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
        if (m_bTxEmptyUnreliable) {
            return;
        }
        m_nEvents = 0;
        OVERLAPPED* pOv = m_txEmpty.Prepare();
        if (WaitCommEvent(hDevice, &m_nEvents, pOv) || GetLastError() == ERROR_IO_PENDING) {
            m_txEmpty.Started();
        }
    }

    HANDLE m_hDevice = INVALID_HANDLE_VALUE;
    DCB m_savedDcb{};
    COMMTIMEOUTS m_savedTimeouts{};
    COverlappedOp m_write;
    COverlappedOp m_txEmpty;
    COverlappedOp m_read;
    std::vector<uint8_t> m_txBuffer;
    DWORD m_nEvents = 0; // written by the pending WaitCommEvent
    bool m_bTxEmptyUnreliable = false;
    HANDLE m_hTimer = nullptr;
    bool m_bCoarseTimer = false;
    int64_t m_nTicksPerSecond = 1;
};

} // namespace

std::unique_ptr<ISerialOps> CreateSystemSerialOps() {
    return std::make_unique<CWin32SerialOps>();
}

std::unique_ptr<ISerialOps> CreateSystemSerialOps(std::string_view) {
    // Windows has no kernel console on a serial port to keep clear of.
    return std::make_unique<CWin32SerialOps>();
}
