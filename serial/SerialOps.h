#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "serial/LineSettings.h"
#include "serial/OpenFailure.h"

// A device handle as the port class hands it out; kNullPortHandle while none is held.
using PortHandle = std::intptr_t;
inline constexpr PortHandle kNullPortHandle = -1;

// What the line-status register says about the transmitter; Unknown where the driver cannot tell
// (a pseudo-terminal, many USB adapters).
enum class TransmitterState { Empty, Busy, Unknown };

// WriteSome's results besides a byte count.
inline constexpr int kWriteWouldBlock = -1;
inline constexpr int kWriteFailed = -2;
// WriteSome, InputWaiting and ReadSome: the device has gone away (a USB adapter unplugged, the far
// side of a pseudo-terminal closed). Nothing will come through this handle again.
inline constexpr int kDeviceGone = -3;

// The operating-system calls behind CSerialPort: one implementation per OS, chosen by the build,
// plus a recording fake in the tests that checks the order of the calls. Every operation takes the
// handle that OpenDevice returned; none of them throws or waits longer than it says.
class ISerialOps {
public:
    virtual ~ISerialOps() = default;

    // Opens an existing serial device for reading and writing, exclusively as far as the system
    // allows (on Linux: other non-root programs are refused, and so is any program that takes the
    // same advisory lock, root included), without waiting for carrier and without making it a
    // controlling terminal. Remembers the device's settings for CloseDevice. A missing device, one
    // that is not a serial line, a console of the kernel and a device held elsewhere give
    // kNullPortHandle, with the reason in error.
    virtual PortHandle OpenDevice(const std::string& path, OpenError& error) = 0;
    // False when OpenDevice(path) would wait (for a device server on the network, or for the
    // search of all processes for another holder of the device): the port class then opens it on
    // a thread of its own, and the caller's thread goes on. Looks only; nothing is opened.
    virtual bool OpensAtOnce(const std::string& /*path*/) { return true; }
    // Puts back the settings found at open, gives up the exclusive hold and closes the device.
    virtual void CloseDevice(PortHandle h) = 0;

    // Raw line with these settings, receiver on, modem status ignored, no flow control of any
    // kind. False when a setting is not one of the codes above or the driver does not take it.
    virtual bool Configure(PortHandle h, const LineSettings& settings) = 0;
    // Discards both queues, including what is in transit.
    virtual void FlushQueues(PortHandle h) = 0;
    // Modem lines; a device without them (a pseudo-terminal) ignores the call.
    virtual void SetDtr(PortHandle h, bool bOn) = 0;
    virtual void SetRts(PortHandle h, bool bOn) = 0;
    // True when the driver itself raises RTS around each transmission (the kernel's RS485 mode
    // has been switched on for the device); RTS is then left to it.
    virtual bool KernelDrivesRts(PortHandle h) = 0;
    // Where the driver raises RTS itself: how long it keeps RTS up before the first byte and after
    // the last, in milliseconds; 0 keeps the driver's own value. False when the driver does not
    // take them as asked. Systems whose drivers never drive RTS have none to set.
    virtual bool SetKernelRtsDelays(PortHandle /*h*/, int /*beforeMs*/, int /*afterMs*/) {
        return false;
    }

    // Why the last Configure or SetKernelRtsDelays was refused, where the port knows more than
    // that it was (a device server's answer); empty otherwise.
    virtual std::string RefusalDetail(PortHandle /*h*/) { return {}; }

    // Hands up to count bytes to the driver without waiting: the number taken, kWriteWouldBlock
    // when its queue is full, kDeviceGone when the device has gone away, kWriteFailed on any other
    // error.
    virtual int WriteSome(PortHandle h, const uint8_t* bytes, int count) = 0;
    // Waits at most timeoutUs for room in the output queue; false when none came.
    virtual bool WaitWritable(PortHandle h, int64_t timeoutUs) = 0;
    // Bytes the driver still holds for sending; -1 when it cannot tell.
    virtual int OutputQueued(PortHandle h) = 0;
    virtual TransmitterState Transmitter(PortHandle h) = 0;

    // Bytes received and waiting to be read, at once: 0 on error, kDeviceGone when the device
    // has hung up.
    virtual int InputWaiting(PortHandle h) = 0;
    // Reads up to count waiting bytes without waiting; the number read, 0 on error, kDeviceGone
    // when the device has gone away.
    virtual int ReadSome(PortHandle h, uint8_t* buffer, int count) = 0;
    // Waits at most timeoutUs until received bytes are waiting or the device has gone away
    // (InputWaiting then says which): true then, false when the time ran out first or a signal
    // cut the wait short. The caller decides whether to wait again.
    virtual bool WaitInput(PortHandle h, int64_t timeoutUs) = 0;

    // A monotonic clock and a pause, for the bounded wait at the end of a write.
    virtual int64_t NowUs() = 0;
    virtual void SleepUs(int64_t us) = 0;
};

// The operating system's serial ports and, beside them, the ports of serial device servers on the
// network (tcp://HOST:PORT, rfc2217://HOST:PORT), each chosen by the name it is opened by.
// consoleListPath names the kernel's list of its consoles, whose devices are never opened.
std::unique_ptr<ISerialOps> CreateSystemSerialOps();
std::unique_ptr<ISerialOps> CreateSystemSerialOps(std::string_view consoleListPath);

// Starts ahead what opening the device at `path` will first do where that takes long, so that it
// runs while the caller does other work: on Linux the search of all processes for another holder
// of the device. Nothing where there is nothing to start, and for a port on the network.
void PrepareDeviceOpen(const std::string& path);
