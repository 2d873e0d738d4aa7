#include "serial/PortDescription.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A USB device sits a few folders above its serial interface's terminal (interface, port,
// device); beyond this the walk has left the USB tree.
constexpr int kMaxLevelsUp = 6;

std::string FirstLine(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    return line;
}

} // namespace

PortDescription DescribePort(const SerialDevice& device, const PortDirectories& dirs) {
    PortDescription description;
    if (device.device.empty()) {
        return description;
    }
    // The terminal's folder in sysfs, by the node's name (ttyUSB0), and the hardware under it.
    const fs::path tty = fs::path(dirs.ttyClass) / fs::path(device.device).filename();
    std::error_code ec;
    fs::path folder = fs::canonical(tty / "device", ec);
    if (ec) {
        return description;
    }
    for (int level = 0; level < kMaxLevelsUp && !folder.empty(); ++level) {
        if (fs::exists(folder / "idVendor", ec)) {
            description.vendorId = FirstLine(folder / "idVendor");
            description.productId = FirstLine(folder / "idProduct");
            description.manufacturer = FirstLine(folder / "manufacturer");
            description.product = FirstLine(folder / "product");
            description.serialNumber = FirstLine(folder / "serial");
            break;
        }
        if (folder == folder.parent_path()) {
            break;
        }
        folder = folder.parent_path();
    }
    return description;
}
