#include "cli/HaDiscovery.h"

#include <cctype>

#include "cli/ReadingFormat.h"
#include "protocol/Address.h"

namespace {

// Home Assistant takes letters, digits, "_" and "-" in an id; every other character becomes "_".
std::string IdPart(std::string_view text) {
    std::string id;
    for (const char c : text) {
        const bool bKept = std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-';
        id += bKept && static_cast<unsigned char>(c) < 0x80 ? c : '_';
    }
    return id;
}

std::string Field(std::string_view name, std::string_view jsonValue) {
    return JsonString(name) + ":" + std::string(jsonValue);
}

} // namespace

DiscoveryConfig HaDiscoveryConfig(const PublishSettings& settings, int address,
                                  std::string_view registerCode) {
    const std::string meter = FormatAddress(address);
    const std::string node = "qd7_" + IdPart(settings.prefix) + "_" + meter;
    const std::string meterTopic = settings.prefix + "/" + meter;
    std::string json = "{" + Field("name", JsonString(registerCode));
    json += "," + Field("unique_id", JsonString(node + "_" + IdPart(registerCode)));
    json += "," + Field("state_topic", JsonString(meterTopic + "/" + std::string(registerCode)));
    // A reading without a value (silent, corrupt) renders as None: Home Assistant's "unknown".
    json += "," + Field("value_template", JsonString("{{ value_json.value }}"));
    json += "," + Field("json_attributes_topic",
                        JsonString(meterTopic + "/" + std::string(registerCode)));
    json += "," + Field("state_class", JsonString("measurement"));
    if (!settings.unit.empty()) {
        json += "," + Field("unit_of_measurement", JsonString(settings.unit));
    }
    json += "," + Field("availability_mode", JsonString("all"));
    json += "," + Field("availability",
                        "[{" + Field("topic", JsonString(settings.prefix + "/status")) + "},{" +
                            Field("topic", JsonString(meterTopic + "/status")) + "," +
                            Field("value_template",
                                  JsonString("{{ 'online' if value == 'ok' else 'offline' }}")) +
                            "}]");
    json +=
        "," + Field("device",
                    "{" + Field("identifiers", "[" + JsonString(node) + "]") + "," +
                        Field("name", JsonString("QD7 " + meter + " (" + settings.prefix + ")")) +
                        "," + Field("model", JsonString("QD7")) + "}");
    json += "}";
    return {settings.haPrefix + "/sensor/" + node + "/" + IdPart(registerCode) + "/config", json};
}
