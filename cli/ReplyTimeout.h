#pragma once

#include <chrono>
#include <optional>

#include "cli/BusOptions.h"
#include "serial/LineSettings.h"

// From the end of a request to the first byte of its reply as it reaches us: the meter reading
// the request and turning its transmitter on (60 ms is no rarity), the converter switching
// direction, and a USB adapter holding received bytes for its latency timer (commonly 16 ms)
// before the host sees them, with room to spare.
inline constexpr std::chrono::milliseconds kReplyStartMargin{100};
// A USB adapter holds the last bytes of a reply for its latency timer as well.
inline constexpr std::chrono::milliseconds kAdapterLatency{16};
// How long a scan listens for the first byte of a reply after its request has left before it
// asks the next address: a meter that answers later is still heard, as a late reply within its
// reply window, and listed. A USB adapter's latency timer and a quick meter's turnaround.
inline constexpr std::chrono::milliseconds kScanListenMargin{30};
// How long after a request its reply may still come, when no --reply-window is given: the window
// program reads a reply 700 ms after its request, so a meter may take that long.
inline constexpr std::chrono::milliseconds kDefaultReplyWindow{700};

// How long an exchange waits, from the start of the request, for its whole reply when no
// --timeout is given: the 35 bytes of the request on the line, the margin for the reply's start,
// the reply's 19 bytes on the line and an adapter's latency for its end; 173 ms at 9600 baud 8N1,
// 121 ms at 115200. Counting from the start of the request keeps the wait right whether the port
// returns from a write once the frame has left or as soon as the driver took it.
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
// time on the line plus the scan's listening margin (and the RTS delays, and the network's margin
// on a device server's port), 67 ms at 9600 baud 8N1. An address where not one byte has come by
// then is silent for now, and the scan asks the next; a meter that answers later is heard within
// its reply window and listed all the same. Once a byte has come, the reply gets the whole
// timeout. With --timeout none: the user's timeout is what a slow meter is given, for its first
// byte too.
std::optional<std::chrono::microseconds> FirstByteLimit(const BusOptions& options,
                                                        bool bNetwork = false);

// How long after a request its reply may still come: --reply-window, else 700 ms; never shorter
// than the timeout in force.
std::chrono::milliseconds ReplyWindow(const BusOptions& options, bool bNetwork = false);
