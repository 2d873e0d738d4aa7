#pragma once

#include <windows.h>

#include "serial/SerialOps.h"

// What the port asks of a Windows serial driver: the line in its device-control block, and
// time-outs that let a read take what is there, or wait for the first byte.

// Sets the line of `dcb` from settings, for half-duplex RS485 through a converter that follows
// RTS: binary mode, parity checking on (without effect under no parity), DTR on while the port is
// open, RTS off (only a write raises it), no CTS, DSR or XON/XOFF flow control, no replacement or
// dropping of received bytes, no abort on a line error. Every other field (the XON/XOFF limits and
// characters, the error, end-of-file and event characters, the reserved words and bits) keeps the
// driver's value. False, with dcb untouched, for a setting outside the codes of LineSettings
// (one and a half stop bits included: the drivers allow them with 5 data bits only).
bool SetLineInDcb(DCB& dcb, const LineSettings& settings);

// ReadFile returns at once with the bytes already received; when there are none, it waits for
// the first byte to come and returns with it, so that an overlapped read's event says when input
// has come (the port cancels a read that has waited long enough, and reads only what is there
// otherwise). WriteFile has no limit of its own, since the port bounds its wait for the
// transmitter itself.
COMMTIMEOUTS FirstByteReadTimeouts();
