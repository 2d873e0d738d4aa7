// The serial port's operating-system calls on Linux: termios (through the kernel's arbitrary-speed
// interface), the tty and modem-line ioctls, an advisory lock, the kernel's console list and its
// list of processes.
#include "serial/SerialOpsLinux.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <linux/serial.h>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

#include "serial/LineTermios.h"
#include "serial/NetworkSerialOps.h"
#include "serial/UniqueFd.h"

namespace {

// A serial device through termios and the tty ioctls. Holds the one device it opened, with the
// settings found there, so that closing leaves the device as other programs knew it.
class CLinuxSerialOps final : public ISerialOps {
public:
    explicit CLinuxSerialOps(LinuxSystemFiles files) : m_files(std::move(files)) {}

    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        error = {};
        // Decided before the open: opening a console and setting it up is already a disturbance.
        const Lists lists = ReadLists();
        struct stat st {};
        if (stat(path.c_str(), &st) != 0) {
            const int nErrno = errno;
            return Refuse(error, FailureOfErrno(nErrno), nErrno, MissingPathText(path, nErrno));
        }
        // Before the search for holders too: /dev/null has holders enough, and is no line.
        if (!IsSerialCandidate(st, lists, error)) {
            return kNullPortHandle;
        }
        // Also before the open: a program that holds the device without a lock would pass both
        // TIOCEXCL (it opened first) and the lock, and share the line with us.
        if (const std::optional<DeviceHolder> holder =
                FindOtherHolder(st.st_rdev, m_files.procRoot, getpid())) {
            return Refuse(error, OpenFailure::InUse, 0, HolderText(*holder));
        }
        CUniqueFd fd(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
        if (!fd.IsValid()) {
            const int nErrno = errno;
            return Refuse(error, FailureOfErrno(nErrno), nErrno, AbsentDeviceText(nErrno));
        }
        SavedLine saved;
        if (!TakeOpened(fd.Get(), lists, saved, error)) {
            return kNullPortHandle;
        }
#ifdef TIOCEXCL
        ioctl(fd.Get(), TIOCEXCL);
#endif
        m_fd = std::move(fd);
        m_saved = saved;
        return m_fd.Get();
    }

    // Only the search for another holder waits; a device that will be refused before it does not.
    bool OpensAtOnce(const std::string& path) override {
        struct stat st {};
        OpenError ignored;
        return stat(path.c_str(), &st) != 0 || !IsSerialCandidate(st, ReadLists(), ignored) ||
               HolderSearchReady(path, m_files.procRoot);
    }

    void CloseDevice(PortHandle h) override {
        const int fd = Fd(h);
        if (fd < 0 || fd != m_fd.Get()) {
            return; // not a device this object opened
        }
        // Whatever a stuck transmitter still holds would make close() wait for it. Only then: on
        // a pseudo-terminal the flush would also take bytes the far side has not read yet.
        if (OutputQueued(h) > 0) {
            tcflush(fd, TCOFLUSH);
        }
        RestoreLineSettings(fd, m_saved);
#ifdef TIOCNXCL
        ioctl(fd, TIOCNXCL);
#endif
        flock(fd, LOCK_UN);
        m_fd.Reset();
    }

    bool Configure(PortHandle h, const LineSettings& settings) override {
        return ApplyRawLine(Fd(h), settings);
    }

    void FlushQueues(PortHandle h) override {
        tcflush(Fd(h), TCIOFLUSH);
    }

    void SetDtr(PortHandle h, bool bOn) override {
        SetModemLine(h, TIOCM_DTR, bOn);
    }
    void SetRts(PortHandle h, bool bOn) override {
        SetModemLine(h, TIOCM_RTS, bOn);
    }

    bool KernelDrivesRts(PortHandle h) override {
#if defined(TIOCGRS485) && defined(SER_RS485_ENABLED)
        serial_rs485 rs485{};
        return ioctl(Fd(h), TIOCGRS485, &rs485) == 0 && (rs485.flags & SER_RS485_ENABLED) != 0;
#else
        (void)h;
        return false;
#endif
    }

    bool SetKernelRtsDelays(PortHandle h, int beforeMs, int afterMs) override {
#if defined(TIOCGRS485) && defined(TIOCSRS485)
        serial_rs485 rs485{};
        if (ioctl(Fd(h), TIOCGRS485, &rs485) != 0) {
            return false;
        }
        if (beforeMs > 0) {
            rs485.delay_rts_before_send = static_cast<__u32>(beforeMs);
        }
        if (afterMs > 0) {
            rs485.delay_rts_after_send = static_cast<__u32>(afterMs);
        }
        if (ioctl(Fd(h), TIOCSRS485, &rs485) != 0) {
            return false;
        }
        // The kernel caps the delays (at 100 ms) without an error: what it kept must be what was
        // asked, or the converter would still cut the frames that asked for more.
        serial_rs485 taken{};
        return ioctl(Fd(h), TIOCGRS485, &taken) == 0 &&
               (beforeMs <= 0 || taken.delay_rts_before_send == rs485.delay_rts_before_send) &&
               (afterMs <= 0 || taken.delay_rts_after_send == rs485.delay_rts_after_send);
#else
        (void)h;
        (void)beforeMs;
        (void)afterMs;
        return false;
#endif
    }

    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        const ssize_t n = write(Fd(h), bytes, static_cast<size_t>(count));
        if (n >= 0) {
            return static_cast<int>(n);
        }
        if (errno == EINTR) {
            return 0;
        }
        if (IsGoneErrno(errno)) {
            return kDeviceGone;
        }
        return errno == EAGAIN || errno == EWOULDBLOCK ? kWriteWouldBlock : kWriteFailed;
    }

    bool WaitWritable(PortHandle h, int64_t timeoutUs) override {
        pollfd pfd{Fd(h), POLLOUT, 0};
        const int nTimeoutMs = static_cast<int>((timeoutUs + 999) / 1000);
        const int n = poll(&pfd, 1, nTimeoutMs);
        if (n < 0) {
            return errno == EINTR;
        }
        return n > 0 && (pfd.revents & POLLOUT) != 0;
    }

    int OutputQueued(PortHandle h) override {
        int n = 0;
        return ioctl(Fd(h), TIOCOUTQ, &n) == 0 ? n : -1;
    }

    TransmitterState Transmitter(PortHandle h) override {
#if defined(TIOCSERGETLSR) && defined(TIOCSER_TEMT)
        unsigned int nLsr = 0;
        if (ioctl(Fd(h), TIOCSERGETLSR, &nLsr) == 0) {
            return (nLsr & TIOCSER_TEMT) != 0 ? TransmitterState::Empty : TransmitterState::Busy;
        }
#else
        (void)h;
#endif
        return TransmitterState::Unknown;
    }

    int InputWaiting(PortHandle h) override {
        // On a pseudo-terminal FIONREAD lags the other side's write until a poll has pushed the
        // bytes through; a poll that does not wait does that, and tells of a hang-up (an unplugged
        // adapter, a closed far side).
        pollfd pfd{Fd(h), POLLIN, 0};
        if (poll(&pfd, 1, 0) > 0 && (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return kDeviceGone;
        }
        int n = 0;
        return ioctl(Fd(h), FIONREAD, &n) == 0 && n > 0 ? n : 0;
    }

    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        const ssize_t n = read(Fd(h), buffer, static_cast<size_t>(count));
        if (n < 0 && IsGoneErrno(errno)) {
            return kDeviceGone;
        }
        return n > 0 ? static_cast<int>(n) : 0;
    }

    bool WaitInput(PortHandle h, int64_t timeoutUs) override {
        // A hang-up or an error ends the wait too: the next InputWaiting reports it.
        pollfd pfd{Fd(h), POLLIN, 0};
        const int64_t us = std::max<int64_t>(timeoutUs, 0);
        const timespec limit{static_cast<time_t>(us / 1'000'000),
                             static_cast<long>(us % 1'000'000) * 1000};
        return ppoll(&pfd, 1, &limit, nullptr) > 0;
    }

    int64_t NowUs() override {
        timespec ts{};
        clock_gettime(CLOCK_MONOTONIC, &ts);
        return static_cast<int64_t>(ts.tv_sec) * 1'000'000 + ts.tv_nsec / 1000;
    }

    void SleepUs(int64_t us) override {
        if (us <= 0) {
            return;
        }
        timespec rest{static_cast<time_t>(us / 1'000'000),
                      static_cast<long>(us % 1'000'000) * 1000};
        while (nanosleep(&rest, &rest) != 0 && errno == EINTR) {
        }
    }

private:
    static int Fd(PortHandle h) {
        return static_cast<int>(h);
    }

    // The kernel's lists that judge a device before it is opened.
    struct Lists {
        std::string consoles;
        std::string terminalDrivers;
    };
    Lists ReadLists() const {
        return {ReadConsoleList(m_files.consoleList), ReadConsoleList(m_files.terminalDrivers)};
    }

    static bool IsSerialCandidate(const struct stat& st, const Lists& lists, OpenError& error) {
        if (!S_ISCHR(st.st_mode) || !MayBeTerminal(st.st_rdev, lists.terminalDrivers)) {
            Refuse(error, OpenFailure::NotSerial, 0);
            return false;
        }
        if (IsConsoleDevice(st.st_rdev, lists.consoles)) {
            Refuse(error, OpenFailure::KernelConsole, 0);
            return false;
        }
        return true;
    }

    // The name may have been pointed elsewhere meanwhile: judge the device actually opened. The
    // advisory lock comes before anything that changes the device, so that a failed second opener
    // leaves the holder's device alone; it also holds against root, which TIOCEXCL does not.
    static bool TakeOpened(int fd, const Lists& lists, SavedLine& saved, OpenError& error) {
        struct stat st {};
        if (fstat(fd, &st) != 0) {
            Refuse(error, OpenFailure::Other, errno);
            return false;
        }
        if (!IsSerialCandidate(st, lists, error)) {
            return false;
        }
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            Refuse(error, errno == EWOULDBLOCK ? OpenFailure::InUse : OpenFailure::Other, errno);
            return false;
        }
        if (!SaveLineSettings(fd, saved)) {
            // A character device without terminal settings is no serial line.
            const int nErrno = errno;
            if (nErrno == EIO) {
                Refuse(error, OpenFailure::NoDevice, nErrno, AbsentDeviceText(nErrno));
            } else {
                Refuse(error, OpenFailure::NotSerial, nErrno);
            }
            return false;
        }
        return true;
    }

    static PortHandle Refuse(OpenError& error, OpenFailure kind, int nErrno,
                             std::string detail = {}) {
        error = OpenError{kind, nErrno, std::move(detail)};
        return kNullPortHandle;
    }

    // What the name leads to when it leads to nothing: a user who typed a path wants to know
    // whether the file is missing or a link points at a device that is gone.
    static std::string MissingPathText(const std::string& path, int nErrno) {
        if (nErrno == ELOOP) {
            return "a loop of links";
        }
        if (nErrno != ENOENT && nErrno != ENOTDIR) {
            return {};
        }
        struct stat st {};
        if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
            std::array<char, 4096> target{};
            const ssize_t n = readlink(path.c_str(), target.data(), target.size() - 1);
            if (n > 0) {
                return "a dangling link (to " + std::string(target.data(), static_cast<size_t>(n)) +
                       ", which does not exist)";
            }
            return "a dangling link";
        }
        return "no such file or device";
    }

    // A device node that is there with no device behind it.
    static std::string AbsentDeviceText(int nErrno) {
        switch (nErrno) {
        case ENOENT:
        case ENOTDIR:
            return "no such file or device"; // gone between the look and the open
        case ENXIO:
        case ENODEV:
            return "no device behind this node (unplugged, or a placeholder without hardware)";
        case EIO:
            return "the device does not answer (unplugged, or no hardware behind this node)";
        default:
            return {};
        }
    }

    static OpenFailure FailureOfErrno(int nErrno) {
        switch (nErrno) {
        case ENOENT:
        case ENOTDIR:
        case ENXIO:
        case ENODEV:
        case EIO: // a hung-up device that is on its way out
            return OpenFailure::NoDevice;
        case EACCES:
        case EPERM:
            return OpenFailure::PermissionDenied;
        case EBUSY: // held exclusively (TIOCEXCL) by another program
            return OpenFailure::InUse;
        default:
            return OpenFailure::Other;
        }
    }

    // What a write or read on a device that has gone away fails with.
    static bool IsGoneErrno(int nErrno) {
        return nErrno == EIO || nErrno == ENXIO || nErrno == ENODEV;
    }

    static void SetModemLine(PortHandle h, int nLine, bool bOn) {
        // A pseudo-terminal has no modem lines and answers ENOTTY: nothing to do then.
        ioctl(Fd(h), bOn ? TIOCMBIS : TIOCMBIC, &nLine);
    }

    LinuxSystemFiles m_files;
    CUniqueFd m_fd; // the device this object opened; closed at CloseDevice, or when it goes
    SavedLine m_saved;
};

} // namespace

std::unique_ptr<ISerialOps> CreateDeviceSerialOps() {
    return CreateLinuxSerialOps(LinuxSystemFiles{});
}

void PrepareDeviceOpen(const std::string& path) {
    SearchHoldersAhead(path);
}

std::unique_ptr<ISerialOps> CreateDeviceSerialOps(std::string_view consoleListPath) {
    LinuxSystemFiles files;
    files.consoleList = consoleListPath;
    return CreateLinuxSerialOps(std::move(files));
}

std::unique_ptr<ISerialOps> CreateLinuxSerialOps(LinuxSystemFiles files) {
    return std::make_unique<CLinuxSerialOps>(std::move(files));
}
