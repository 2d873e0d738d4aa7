#pragma once

#include "cli/BusOptions.h"
#include "cli/ReadingWriter.h"
#include "serial/PortDevice.h"

// qd7-bus ports: one line per COMn present, mapped as the window program and --port COMn map it
// (COM1 to COM8, and beyond them every port the system has), with its device and what the system
// says about the hardware. Never opens a device. The exit code: 0 when a port is there, 1 when
// none is.
int ListPorts(CReadingWriter& writer, OutputFormat format, const PortDirectories& dirs);
