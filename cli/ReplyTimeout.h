#pragma once

#include <chrono>
#include <optional>

#include "cli/BusOptions.h"
#include "serial/LineSettings.h"

// Beyond the request's and the reply's own time on the line, what a reply may take to come back:
// the meter reading the request and turning its transmitter on, the converter switching
// direction, and a USB adapter holding received bytes for its latency timer (commonly 16 ms)
// before the host sees them.
inline constexpr std::chrono::milliseconds kTurnaroundMargin{50};

// How long an exchange waits, from the start of the request, for its whole reply when no
// --timeout is given: the 35 bytes of the request and the 19 of the reply on the line, plus the
// turnaround margin; 107 ms at 9600 baud 8N1, 55 ms at 115200. Counting from the start of the
// request keeps the wait right whether the port returns from a write once the frame has left or
// as soon as the driver took it.
std::chrono::milliseconds DefaultReplyTimeout(const LineSettings& line);

// What a port on the network adds to the wait: the device server gathers what the meter sends for
// about two character times before it passes the bytes on (ser2net does so), and the network and
// both systems' scheduling add a few milliseconds (ser2net on the loopback interface added 3.4 ms
// to a reply at the median and 8.8 ms at worst; a LAN adds less than a millisecond more).
// 8 ms at 9600 baud 8N1.
std::chrono::milliseconds NetworkMargin(const LineSettings& line);

// The time one character takes on the line.
std::chrono::microseconds CharacterTime(const LineSettings& line);

// The timeout in force: --timeout, else the default of the line settings plus the RTS delays,
// which hold the bus before the meter can answer, and the network's margin where the port opened
// (bNetwork) is on a device server.
std::chrono::milliseconds ReplyTimeout(const BusOptions& options, bool bNetwork = false);

// How long a scan waits for the first byte of a reply when no --timeout is given: the request's
// time on the line plus the turnaround margin (and the RTS delays, and the network's margin on a
// device server's port), 87 ms at 9600 baud 8N1. A meter's reply starts within that margin after
// the request, so an address where not one byte has come by then is silent; once a byte has
// come, the reply gets the whole timeout. With --timeout none: the user's timeout is what a slow
// meter is given, for its first byte too.
std::optional<std::chrono::microseconds> FirstByteLimit(const BusOptions& options,
                                                        bool bNetwork = false);
