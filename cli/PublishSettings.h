#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Where watch publishes its rows: mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://... (TLS). The
// password never comes from the command line, where every user of the machine can read it: it is
// the first line of --password-file, or else $QD7_MQTT_PASSWORD.
struct PublishSettings {
    bool bTls = false;
    std::string user; // empty: no login
    std::string host; // a name, an IPv4 address or an IPv6 address without its brackets
    int port = 0;
    std::string prefix;       // topics are PREFIX/<address>/<register> and PREFIX/status
    std::string caFile;       // mqtts: the certificates the broker's is checked against
    std::string passwordFile; // --password-file
    // Readings and status messages not yet acknowledged by the broker; beyond, the oldest
    // readings go.
    size_t nQueue = 10'000;
    // Messages handed to the broker and not yet acknowledged, at most: the broker's round trip
    // then costs one wait per window, not one per reading.
    int nInflight = 100;
    int nKeepAliveSeconds = 30; // a silent connection is found dead after twice this
    std::string spoolFile;      // --spool: the queue on disk as well; empty: in memory only
    bool bHaDiscovery = false;  // --ha-discovery: Home Assistant's discovery configs
    std::string haPrefix = "homeassistant";
    std::string unit; // --unit: the unit of the readings, for the discovery configs
};

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;

// The URL into `settings` (scheme, user, host, port, prefix); false with `error` set. The prefix
// is one or more topic levels without wildcards ("+", "#"), without an empty level, not starting
// with "$" (the broker's own topics), and without control characters.
bool ParsePublishUrl(std::string_view url, PublishSettings& settings, std::string& error);

// The URL as it may be shown: a password in it, which is refused, replaced by "***".
std::string RedactedUrl(std::string_view url);

// A topic prefix of its own (--ha-discovery=PREFIX): the same rules as the URL's.
bool ValidTopicPrefix(std::string_view prefix);
