#pragma once

#include <string>

#include <windows.h>

#include "serial/OpenFailure.h"

// What Windows' error codes mean for a serial port. One table decides it for the open and for
// every call on an open port alike, so that a code the open reads as "no device" is never taken
// for a passing failure once the port is open.

enum class PortErrorMeaning {
    NoDevice,  // nothing answers to the name
    Gone,      // the device went away under an open handle (an adapter unplugged)
    InUse,     // another program holds the port
    NotSerial, // the name reaches something that is no serial line
    Other,     // anything else: the system's own message tells
};

// What nError means when CreateFile failed with it: NoDevice, InUse, NotSerial or Other.
PortErrorMeaning MeaningAtOpen(DWORD nError);
// What nError means when a call on an open port failed with it (ClearCommError, ReadFile,
// WriteFile, WaitCommEvent, GetOverlappedResult, EscapeCommFunction...): Gone or Other. An
// operation that this program cancelled itself ends with ERROR_OPERATION_ABORTED; its caller
// knows that and does not ask.
PortErrorMeaning MeaningOnOpenPort(DWORD nError);

// The open's reason for the user. Access denied is what a port held by another program gives;
// a path of the file system (a folder, a read-only file) is told apart by the caller.
OpenFailure OpenFailureOfError(DWORD nError);

// True when a call on an open port failed because the device went away: nothing will come
// through the handle again.
bool IsDeviceGoneError(DWORD nError);

// True when path (UTF-8) names something of the file system (a file or a folder) rather than a
// device.
bool IsFileSystemPath(const std::string& path);
