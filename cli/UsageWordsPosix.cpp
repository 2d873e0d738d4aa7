#include "cli/UsageWords.h"

const std::string_view kUsageStop = "Ctrl+C, SIGTERM or SIGHUP";
const std::string_view kUsagePortExample = "/dev/ttyUSB0";
const std::string_view kUsagePortAlias = "by-id";
