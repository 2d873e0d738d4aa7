#include <filesystem>
#include <optional>
#include <system_error>

#include "serial/PortAddress.h"
#include "serial/PortDescription.h"
#include "serial/PortDevice.h"

namespace fs = std::filesystem;

namespace {

// Links in a chain are followed this far at most, as the system does.
constexpr int kMaxLinks = 40;

// The link under `folder` that leads to `device` now; nothing when none does.
std::optional<fs::path> LinkTo(const fs::path& device, const std::string& folder) {
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ecLink;
        if (fs::canonical(it->path(), ecLink) == device && !ecLink) {
            return it->path();
        }
    }
    return std::nullopt;
}

// The node of the device folder the path leads to (/dev/ttyUSB0, whose name is the terminal's in
// sysfs), following the links one by one; the end of the chain when none lies in that folder.
fs::path NodeOf(const fs::path& given, const fs::path& device, const PortDirectories& dirs) {
    fs::path path = given;
    for (int i = 0; i < kMaxLinks; ++i) {
        std::error_code ec;
        if (path.parent_path() == fs::path(dirs.devices) || !fs::is_symlink(path, ec)) {
            return path;
        }
        const fs::path target = fs::read_symlink(path, ec);
        if (ec) {
            break;
        }
        path = target.is_absolute() ? target : (path.parent_path() / target).lexically_normal();
    }
    return device;
}

// sysfs shows the USB device behind the terminal and no serial number of it.
bool LacksSerialNumber(const fs::path& node, const PortDirectories& dirs) {
    const PortDescription description = DescribePort({{}, node.string(), {}}, dirs);
    return !description.vendorId.empty() && description.serialNumber.empty();
}

bool IsPseudoTerminal(const fs::path& device) {
    return device.parent_path() == fs::path("/dev/pts");
}

} // namespace

DeviceIdentity IdentifyDevice(const std::string& path, const PortDirectories& dirs) {
    if (IsNetworkPort(path)) {
        return {path, false}; // whatever answers at that address
    }
    std::error_code ec;
    const fs::path given(path);
    const fs::path device = fs::canonical(given, ec);
    if (ec) {
        return {path, true}; // nothing there to be told from another
    }
    const std::optional<fs::path> byId = given.parent_path() == fs::path(dirs.byId)
                                             ? std::optional<fs::path>(given)
                                             : LinkTo(device, dirs.byId);
    const bool bShared = byId && LacksSerialNumber(NodeOf(*byId, device, dirs), dirs);
    if (byId && !bShared) {
        return {byId->string(), true};
    }
    if (const std::optional<fs::path> byPath = LinkTo(device, dirs.byPath)) {
        return {byPath->string(), true};
    }
    if (byId) {
        return {byId->string(), false}; // a name another adapter of the same make may take
    }
    const bool bLink = fs::is_symlink(given, ec);
    return {path, !bLink && !IsPseudoTerminal(device)};
}
