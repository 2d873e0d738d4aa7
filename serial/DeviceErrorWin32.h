#pragma once

#include <string>

#include <windows.h>

#include "serial/OpenFailure.h"

// What Windows' error codes mean for a serial port.

// Why CreateFile failed on a port. Access denied is what a port held by another program gives;
// a path of the file system (a folder, a read-only file) is told apart by the caller.
OpenFailure OpenFailureOfError(DWORD nError);

// True for the errors with which reads, writes and status calls fail once the device has gone
// away (a USB adapter unplugged): nothing will come through the handle again.
bool IsDeviceGoneError(DWORD nError);

// True when path names something of the file system (a file or a folder) rather than a device.
bool IsFileSystemPath(const std::string& path);
