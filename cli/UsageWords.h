#pragma once

#include <string_view>

// The words of the help that differ between systems: how a run is stopped, and how a serial
// device is named.
extern const std::string_view kUsageStop;        // "Ctrl+C, SIGTERM or SIGHUP"
extern const std::string_view kUsagePortExample; // "/dev/ttyUSB0"
