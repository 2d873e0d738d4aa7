#pragma once

#include <string>
#include <string_view>

#include "cli/PublishSettings.h"

// Home Assistant's MQTT discovery (--ha-discovery): a retained config message per meter and
// register makes a sensor of it, its state the reading's value, its unit --unit, available while
// qd7-bus publishes (PREFIX/status) and the meter answers (PREFIX/<address>/status is "ok").
struct DiscoveryConfig {
    std::string topic;   // HAPREFIX/sensor/<node>/<register>/config
    std::string payload; // json
};

DiscoveryConfig HaDiscoveryConfig(const PublishSettings& settings, int address,
                                  std::string_view registerCode);
