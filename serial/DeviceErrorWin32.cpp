#include "serial/DeviceErrorWin32.h"

#include <algorithm>
#include <array>

#include "serial/TextWin32.h"

namespace {

using enum PortErrorMeaning;

struct SErrorMeaning {
    DWORD nCode;
    PortErrorMeaning atOpen;
    PortErrorMeaning onOpenPort;
};

// Every code the drivers are known to give for a missing, vanished or busy port. A code met on
// an open port that says the device is not there means it has gone: the window then reopens it
// when it is back and qd7-bus reports it lost, as for a hang-up on Linux. Codes not listed are
// Other in both places.
constexpr std::array kErrorMeanings = {
    // The name leads nowhere; on an open handle, the device object was deleted with its adapter.
    SErrorMeaning{ERROR_FILE_NOT_FOUND, NoDevice, Gone},
    SErrorMeaning{ERROR_PATH_NOT_FOUND, NoDevice, Gone},
    // Names no device can have; an open handle never sees them.
    SErrorMeaning{ERROR_INVALID_NAME, NoDevice, Other},
    SErrorMeaning{ERROR_BAD_PATHNAME, NoDevice, Other},
    // "The system cannot find the device specified", "the device is not ready": what
    // ClearCommError, WriteFile and EscapeCommFunction give once an adapter is unplugged (and,
    // under wine, once the line behind the port has hung up).
    SErrorMeaning{ERROR_BAD_UNIT, NoDevice, Gone},
    SErrorMeaning{ERROR_NOT_READY, NoDevice, Gone},
    SErrorMeaning{ERROR_DEV_NOT_EXIST, NoDevice, Gone},
    SErrorMeaning{ERROR_DEVICE_NOT_CONNECTED, NoDevice, Gone},
    SErrorMeaning{ERROR_DEVICE_REMOVED, NoDevice, Gone},
    // USB serial drivers answer every request so while their device is being removed ("the
    // device does not recognize the command", "a device attached to the system is not
    // functioning"). At the open their own message says more than "no such device".
    SErrorMeaning{ERROR_BAD_COMMAND, Other, Gone},
    SErrorMeaning{ERROR_GEN_FAILURE, Other, Gone},
    // A driver completes the requests it still holds as cancelled when its device is removed;
    // this program's own cancels never reach the table.
    SErrorMeaning{ERROR_OPERATION_ABORTED, Other, Gone},
    // The far side of a port that is a pipe or a pseudo-terminal (a virtual port pair, wine)
    // has closed.
    SErrorMeaning{ERROR_BROKEN_PIPE, Other, Gone},
    // The handle no longer stands for a device: the driver dropped it with its device.
    SErrorMeaning{ERROR_INVALID_HANDLE, Other, Gone},
    // At the open, the usual answer for a port another program holds. On an open handle, what
    // some USB drivers give once their device is gone.
    SErrorMeaning{ERROR_ACCESS_DENIED, InUse, Gone},
    // Busy for now: the next request may well pass.
    SErrorMeaning{ERROR_SHARING_VIOLATION, InUse, Other},
    SErrorMeaning{ERROR_BUSY, InUse, Other},
    // A device whose driver takes no such requests: at the open, no serial line.
    SErrorMeaning{ERROR_NOT_SUPPORTED, NotSerial, Other},
    SErrorMeaning{ERROR_INVALID_FUNCTION, NotSerial, Other},
};

const SErrorMeaning* Find(DWORD nError) {
    const auto it = std::find_if(kErrorMeanings.begin(), kErrorMeanings.end(),
                                 [nError](const SErrorMeaning& m) { return m.nCode == nError; });
    return it != kErrorMeanings.end() ? &*it : nullptr;
}

} // namespace

PortErrorMeaning MeaningAtOpen(DWORD nError) {
    const SErrorMeaning* pMeaning = Find(nError);
    return pMeaning != nullptr ? pMeaning->atOpen : Other;
}

PortErrorMeaning MeaningOnOpenPort(DWORD nError) {
    const SErrorMeaning* pMeaning = Find(nError);
    return pMeaning != nullptr ? pMeaning->onOpenPort : Other;
}

OpenFailure OpenFailureOfError(DWORD nError) {
    switch (MeaningAtOpen(nError)) {
    case NoDevice:
    case Gone:
        return OpenFailure::NoDevice;
    case InUse:
        return OpenFailure::InUse;
    case NotSerial:
        return OpenFailure::NotSerial;
    case Other:
        break;
    }
    return OpenFailure::Other;
}

bool IsDeviceGoneError(DWORD nError) {
    return MeaningOnOpenPort(nError) == Gone;
}

bool IsFileSystemPath(const std::string& path) {
    return GetFileAttributesW(WideFromUtf8(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}
