#pragma once

#include <optional>
#include <string>
#include <string_view>

// What a build of qd7-bus holds beyond what every build holds. Its help, manual page and shell
// completions describe only what it holds, and an option of what it lacks is refused with a word
// on why. CMake names the features of the build (cli/CMakeLists.txt).
enum class BusFeature {
    Everywhere,  // every build
    Publish,     // readings to an MQTT broker: a build with libmosquitto
    DriverRs485, // a driver that raises RTS itself (the kernel's RS485 mode): Linux
};

bool HasBusFeature(BusFeature feature);
// The feature a block of the help names ("publish", "driver-rs485").
std::optional<BusFeature> BusFeatureNamed(std::string_view name);
// Why an option of a feature that this build lacks is refused: "this qd7-bus was built without
// MQTT".
std::string MissingBusFeature(BusFeature feature);

// Keeps the blocks of `text` that this build holds: a line "@if NAME" opens a block that stays
// when the build has feature NAME, a line "@end" closes it; both lines go. The help, the manual
// page made from it and the completions say the same of a build.
std::string SelectBusFeatureBlocks(std::string_view text);
