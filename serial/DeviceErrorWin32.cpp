#include "serial/DeviceErrorWin32.h"

OpenFailure OpenFailureOfError(DWORD nError) {
    switch (nError) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_BAD_UNIT:
    case ERROR_NOT_READY:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
        return OpenFailure::NoDevice;
    case ERROR_ACCESS_DENIED: // the usual answer for a port that is open elsewhere
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return OpenFailure::InUse;
    default:
        return OpenFailure::Other;
    }
}

bool IsDeviceGoneError(DWORD nError) {
    switch (nError) {
    case ERROR_BAD_COMMAND:   // "the device does not recognize the command": most USB drivers
    case ERROR_ACCESS_DENIED: // some USB drivers once their device is gone
    case ERROR_GEN_FAILURE:   // "a device attached to the system is not functioning"
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_DEVICE_REMOVED:
    case ERROR_INVALID_HANDLE: // the driver dropped the handle with its device
        return true;
    default:
        return false;
    }
}

bool IsFileSystemPath(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}
