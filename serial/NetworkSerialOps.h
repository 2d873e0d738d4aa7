#pragma once

#include <memory>

#include "serial/SerialOps.h"

// Serial ports on the network (tcp:// and rfc2217://, see PortAddress.h) behind the same interface
// as the operating system's ports. What a network port cannot do is not pretended: the state of
// the server's transmitter is unknown, so a write waits the frame's time on the line; on a raw TCP
// port the server drives RTS (its port is in RS485 mode) and RTS is left to it; over RFC 2217 DTR
// and RTS go through SET-CONTROL. A connection that closes is a device that went away.
std::unique_ptr<ISerialOps> CreateNetworkSerialOps();

// The operating system's own serial devices only (termios, Win32): CreateSystemSerialOps puts the
// network ports beside them.
std::unique_ptr<ISerialOps> CreateDeviceSerialOps();
std::unique_ptr<ISerialOps> CreateDeviceSerialOps(std::string_view consoleListPath);
