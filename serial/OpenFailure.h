#pragma once

#include <string>
#include <utility>

// Why a serial device could not be opened, as far as the operating system tells.
enum class OpenFailure {
    None,
    NoDevice,         // nothing by that name, or no port present for that number
    PermissionDenied, // the user may not read and write it
    InUse,            // another program holds it
    KernelConsole,    // the kernel writes its messages there: never opened
    NotSerial,        // it exists but is not a serial line
    SettingsRefused,  // the driver does not take the line settings (most often the speed)
    Other,            // any other error of the system, see its errno
};

struct OpenError {
    OpenError() = default;
    OpenError(OpenFailure failure, int nError, std::string text = {})
        : kind(failure), nErrno(nError), detail(std::move(text)) {}

    OpenFailure kind = OpenFailure::None;
    int nErrno = 0; // the system's error number behind kind (errno, or Windows' GetLastError), 0
                    // when there is none
    // The reason in words where the system told more than the kind says ("a dangling link to
    // /dev/ttyUSB0", "in use by another program (4711, minicom)"); empty otherwise.
    std::string detail;
};

// The reason in words, for a user who has to fix it: the detail when there is one, else
// "permission denied (...)" and the like. Includes the fix where there is a usual one.
std::string OpenFailureText(const OpenError& error);
