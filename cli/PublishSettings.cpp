#include "cli/PublishSettings.h"

#include <cstdlib>
#include <fstream>

#include "protocol/NumberText.h"

namespace {

constexpr std::string_view kMqtt = "mqtt://";
constexpr std::string_view kMqtts = "mqtts://";
constexpr int64_t kMaxPort = 65535;

bool ValidPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.find_first_of("+#") != std::string_view::npos) {
        return false;
    }
    // No empty level: not at either end, never two slashes in a row.
    return prefix.front() != '/' && prefix.back() != '/' &&
           prefix.find("//") == std::string_view::npos;
}

} // namespace

bool ParsePublishUrl(std::string_view url, PublishSettings& settings, std::string& error) {
    std::string_view rest;
    if (url.substr(0, kMqtt.size()) == kMqtt) {
        settings.bTls = false;
        rest = url.substr(kMqtt.size());
    } else if (url.substr(0, kMqtts.size()) == kMqtts) {
        settings.bTls = true;
        rest = url.substr(kMqtts.size());
    } else {
        error = "not mqtt://[USER@]HOST[:PORT]/PREFIX or mqtts://...";
        return false;
    }
    const size_t slash = rest.find('/');
    if (slash == std::string_view::npos || !ValidPrefix(rest.substr(slash + 1))) {
        error = "a topic prefix is needed after the host, without + or # and without an empty "
                "level (mqtt://HOST/plant/line1)";
        return false;
    }
    settings.prefix = rest.substr(slash + 1);
    std::string_view authority = rest.substr(0, slash);
    const size_t at = authority.rfind('@');
    settings.user.clear();
    if (at != std::string_view::npos) {
        if (authority.substr(0, at).find(':') != std::string_view::npos) {
            error = "no password in the URL: use QD7_MQTT_PASSWORD or --password-file";
            return false;
        }
        settings.user = authority.substr(0, at);
        authority = authority.substr(at + 1);
    }
    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos) {
            error = "an IPv6 address without its closing bracket";
            return false;
        }
        settings.host = authority.substr(1, close - 1);
        const std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') {
            error = "something after the IPv6 address that is not :PORT";
            return false;
        }
        portText = after.empty() ? after : after.substr(1);
    } else {
        const size_t colon = authority.find(':');
        settings.host = authority.substr(0, colon);
        portText =
            colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    }
    if (settings.host.empty()) {
        error = "the host is missing";
        return false;
    }
    settings.port = settings.bTls ? kMqttsPort : kMqttPort;
    if (!portText.empty()) {
        const auto port = ParseWholeNumber(portText, 1, kMaxPort);
        if (!port) {
            error = "the port is not a number from 1 to 65535";
            return false;
        }
        settings.port = static_cast<int>(*port);
    }
    return true;
}

bool ReadPassword(const PublishSettings& settings, std::optional<std::string>& password,
                  std::string& error) {
    password.reset();
    if (const char* pszFromEnvironment = std::getenv("QD7_MQTT_PASSWORD")) {
        password = pszFromEnvironment;
        return true;
    }
    if (settings.passwordFile.empty()) {
        return true;
    }
    std::ifstream file(settings.passwordFile);
    std::string line;
    if (!file || !std::getline(file, line)) {
        error = "--password-file: " + settings.passwordFile + ": cannot be read";
        return false;
    }
    if (!line.empty() && line.back() == '\r') {
        line.pop_back();
    }
    password = line;
    return true;
}
