#include "cli/UsageWords.h"

const std::string_view kUsageStop = "Ctrl+C, Ctrl+Break or closing the console";
const std::string_view kUsagePortExample = "COM3";
const std::string_view kUsagePortAlias = "driver";
