#include "cli/BusFeatures.h"

#include <array>
#include <utility>

#include "BusBuild.h"

namespace {

constexpr std::array<std::pair<BusFeature, std::string_view>, 2> kNames = {{
    {BusFeature::Publish, "publish"},
    {BusFeature::DriverRs485, "driver-rs485"},
}};

std::string_view NameOf(BusFeature feature) {
    for (const auto& [f, name] : kNames) {
        if (f == feature) {
            return name;
        }
    }
    return {};
}

} // namespace

bool HasBusFeature(BusFeature feature) {
    if (feature == BusFeature::Everywhere) {
        return true;
    }
    // The build's features, apart by spaces.
    const std::string_view name = NameOf(feature);
    const std::string_view all = kBusBuildFeatures;
    for (size_t at = 0; at <= all.size();) {
        const size_t end = std::min(all.find(' ', at), all.size());
        if (all.substr(at, end - at) == name) {
            return true;
        }
        at = end + 1;
    }
    return false;
}

std::optional<BusFeature> BusFeatureNamed(std::string_view name) {
    for (const auto& [feature, featureName] : kNames) {
        if (featureName == name) {
            return feature;
        }
    }
    return std::nullopt;
}

std::string MissingBusFeature(BusFeature feature) {
    switch (feature) {
    case BusFeature::Publish:
        return "this qd7-bus was built without MQTT";
    case BusFeature::DriverRs485:
        return "this system has no RS485 mode of the driver";
    case BusFeature::Everywhere:
        break;
    }
    return {};
}

std::string SelectBusFeatureBlocks(std::string_view text) {
    std::string kept;
    bool bKeeping = true;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        const std::string_view line =
            text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        const std::string_view bare = line.substr(0, line.find_last_not_of('\n') + 1);
        if (bare.rfind("@if ", 0) == 0) {
            const std::optional<BusFeature> feature = BusFeatureNamed(bare.substr(4));
            bKeeping = feature && HasBusFeature(*feature);
        } else if (bare == "@end") {
            bKeeping = true;
        } else if (bKeeping) {
            kept += line;
        }
    }
    return kept;
}
