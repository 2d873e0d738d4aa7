#pragma once

#include <string_view>

// The words of the help that differ between systems: how a run is stopped, and how a serial
// device is named.
extern const std::string_view kUsageStop;        // "Ctrl+C, SIGTERM or SIGHUP"
extern const std::string_view kUsagePortExample; // "/dev/ttyUSB0"
// What the second name of a port is: an adapter's stable name under /dev/serial/by-id, or on
// Windows the driver's name of the device (\Device\Serial0).
extern const std::string_view kUsagePortAlias;
