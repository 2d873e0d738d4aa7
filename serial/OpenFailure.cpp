#include "serial/OpenFailure.h"

#include "serial/SystemError.h"

std::string OpenFailureText(const OpenError& error) {
    if (error.kind != OpenFailure::None && !error.detail.empty()) {
        return error.detail;
    }
    switch (error.kind) {
    case OpenFailure::None:
        return {};
    case OpenFailure::NoDevice:
        return "no such device";
    case OpenFailure::PermissionDenied: {
        const std::string_view fix = PermissionFix();
        return fix.empty() ? "permission denied" : "permission denied; " + std::string(fix);
    }
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
    return error.nErrno != 0 ? SystemErrorText(error.nErrno) : "cannot open the device";
}
