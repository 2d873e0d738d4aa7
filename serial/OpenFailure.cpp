#include "serial/OpenFailure.h"

#include <cstring>

std::string OpenFailureText(const OpenError& error) {
    switch (error.kind) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NoDevice:
        return "no such device";
    case OpenFailure::PermissionDenied:
        return "permission denied; to get access: sudo usermod -aG dialout $USER, then log in "
               "again";
    case OpenFailure::InUse:
        return "in use by another program";
    case OpenFailure::KernelConsole:
        return "the kernel's console, never opened as a meter port";
    case OpenFailure::NotSerial:
        return "not a serial device";
    case OpenFailure::SettingsRefused:
        return "the driver refuses the line settings";
    case OpenFailure::Other:
        break;
    }
    return error.nErrno != 0 ? std::string(std::strerror(error.nErrno)) : "cannot open the device";
}
