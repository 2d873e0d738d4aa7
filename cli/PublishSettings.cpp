#include "cli/PublishSettings.h"

#include <algorithm>

#include "protocol/NumberText.h"

namespace {

constexpr std::string_view kMqtt = "mqtt://";
constexpr std::string_view kMqtts = "mqtts://";
constexpr int64_t kMaxPort = 65535;

} // namespace

bool ValidTopicPrefix(std::string_view prefix) {
    if (prefix.empty() || prefix.find_first_of("+#") != std::string_view::npos ||
        prefix.front() == '$') {
        return false;
    }
    // Control characters have no place in a topic; a NUL is refused by the protocol itself.
    if (std::any_of(prefix.begin(), prefix.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
        return false;
    }
    // No empty level: not at either end, never two slashes in a row.
    return prefix.front() != '/' && prefix.back() != '/' &&
           prefix.find("//") == std::string_view::npos;
}

std::string RedactedUrl(std::string_view url) {
    const size_t scheme = url.find("://");
    const size_t start = scheme == std::string_view::npos ? 0 : scheme + 3;
    const size_t slash = url.find('/', start);
    const std::string_view authority =
        url.substr(start, slash == std::string_view::npos ? std::string_view::npos : slash - start);
    const size_t at = authority.rfind('@');
    const size_t colon = authority.substr(0, at == std::string_view::npos ? 0 : at).find(':');
    if (at == std::string_view::npos || colon == std::string_view::npos) {
        return std::string(url);
    }
    return std::string(url.substr(0, start + colon + 1)) + "***" +
           std::string(url.substr(start + at));
}

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
    if (slash == std::string_view::npos || !ValidTopicPrefix(rest.substr(slash + 1))) {
        error = "a topic prefix is needed after the host, without + or #, without an empty "
                "level and not a $ topic of the broker (mqtt://HOST/plant/line1)";
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
    bool bPortGiven = false;
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
        bPortGiven = !after.empty();
        portText = after.empty() ? after : after.substr(1);
    } else {
        const size_t colon = authority.find(':');
        settings.host = authority.substr(0, colon);
        bPortGiven = colon != std::string_view::npos;
        portText =
            colon == std::string_view::npos ? std::string_view() : authority.substr(colon + 1);
    }
    if (settings.host.empty()) {
        error = "the host is missing";
        return false;
    }
    settings.port = settings.bTls ? kMqttsPort : kMqttPort;
    if (bPortGiven) {
        const auto port = ParseWholeNumber(portText, 1, kMaxPort);
        if (!port) {
            error = "the port is not a number from 1 to 65535";
            return false;
        }
        settings.port = static_cast<int>(*port);
    }
    return true;
}
