#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Where watch publishes its rows: mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://... (TLS). The
// password never comes from the command line, where every user of the machine can read it: it is
// $QD7_MQTT_PASSWORD or the first line of --password-file.
struct PublishSettings {
    bool bTls = false;
    std::string user; // empty: no login
    std::string host; // a name, an IPv4 address or an IPv6 address without its brackets
    int port = 0;
    std::string prefix;       // topics are PREFIX/<address>/<register> and PREFIX/status
    std::string caFile;       // mqtts: the certificates the broker's is checked against
    std::string passwordFile; // --password-file
    size_t nQueue = 10'000;   // readings kept while the broker is away; beyond, the oldest go
};

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;

// The URL into `settings` (scheme, user, host, port, prefix); nullopt-like false with `error` set.
// The prefix is one or more topic levels without wildcards ("+", "#") and without an empty level.
bool ParsePublishUrl(std::string_view url, PublishSettings& settings, std::string& error);

// The password: $QD7_MQTT_PASSWORD when set, else the first line of the password file when one is
// named, else none. False with `error` set when the file cannot be read.
bool ReadPassword(const PublishSettings& settings, std::optional<std::string>& password,
                  std::string& error);
