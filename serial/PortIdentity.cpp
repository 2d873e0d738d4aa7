#include <filesystem>
#include <system_error>

#include "serial/PortAddress.h"
#include "serial/PortDevice.h"

namespace fs = std::filesystem;

std::string StableDeviceName(const std::string& path, const PortDirectories& dirs) {
    if (IsNetworkPort(path)) {
        return path; // a device server is found again by its address
    }
    std::error_code ec;
    const fs::path given(path);
    if (given.parent_path() == fs::path(dirs.byId)) {
        return path; // already the stable name
    }
    const fs::path device = fs::canonical(given, ec);
    if (ec) {
        return path;
    }
    for (fs::directory_iterator it(dirs.byId, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ecLink;
        if (fs::canonical(it->path(), ecLink) == device && !ecLink) {
            return it->path().string();
        }
    }
    return path;
}
