#include "cli/PortList.h"

#include <algorithm>
#include <array>
#include <string>
#include <utility>

#include "cli/BusCommands.h"
#include "cli/ReadingFormat.h"
#include "cli/UsageWords.h"
#include "serial/PortAddress.h"
#include "serial/PortDescription.h"

namespace {

// The window program offers COM1 to COM8; --port takes any number, so every port present is
// listed.
constexpr int kWindowPorts = 8;

// The fields of a line, by name, in the order of the csv columns.
using Fields = std::array<std::pair<const char*, std::string>, 11>;

Fields FieldsOf(int port, const PortLocation& location, const PortDirectories& dirs) {
    const SerialDevice& d = location.device;
    const bool bNetwork = IsNetworkPort(d.path);
    const PortDescription about = bNetwork ? PortDescription{} : DescribePort(d, dirs);
    return {{{"port", "COM" + std::to_string(port)},
             {"source", location.bFromEnvironment ? "QD7_COM" + std::to_string(port) : "system"},
             {"path", d.path},
             {"device", bNetwork ? std::string("network") : d.device},
             {"by_id", d.byIdName},
             {"usb_id",
              about.vendorId.empty() ? std::string() : about.vendorId + ":" + about.productId},
             {"manufacturer", about.manufacturer},
             {"product", about.product},
             {"serial", about.serialNumber},
             {"friendly_name", about.friendlyName},
             {"hardware_id", about.hardwareId}}};
}

// "COM2  /dev/ttyUSB0  0403:6001  FTDI  FT232R USB UART  serial A50285BI
//        by-id usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0"
std::string TextLine(const Fields& f) {
    const auto& [port, source, path, device, byId, usbId, maker, product, serial, friendly, hwid] =
        f;
    std::string line = port.second + "  " + (device.second.empty() ? path.second : device.second);
    if (source.second != "system") {
        line += "  (" + source.second + "=" + path.second + ")";
    }
    for (const std::string* pPart : {&usbId.second, &maker.second, &product.second}) {
        if (!pPart->empty()) {
            line += "  " + *pPart;
        }
    }
    if (!serial.second.empty()) {
        line += "  serial " + serial.second;
    }
    if (!friendly.second.empty()) {
        line += "  " + friendly.second;
    }
    if (!hwid.second.empty()) {
        line += "  " + hwid.second;
    }
    if (!byId.second.empty()) {
        line += "\n      " + std::string(kUsagePortAlias) + " " + byId.second;
    }
    return line + '\n';
}

} // namespace

int ListPorts(CReadingWriter& writer, OutputFormat format, const PortDirectories& dirs) {
    const std::vector<SerialDevice> present = ListSerialDevices(dirs);
    const std::vector<PortLocation> locations =
        LocatePorts(std::max(kWindowPorts, HighestPortNumber(present)), dirs);
    // Only what is there: on Windows every COMn has a device name, present or not.
    const auto isPresent = [&present](const PortLocation& location) {
        return location.bFromEnvironment ||
               std::any_of(present.begin(), present.end(),
                           [&](const SerialDevice& d) { return d.path == location.device.path; });
    };
    if (format == OutputFormat::Csv) {
        std::string header;
        for (const auto& [name, value] : FieldsOf(1, PortLocation{}, dirs)) {
            header += (header.empty() ? "" : ",") + std::string(name);
        }
        writer.WriteLine(header + '\n');
    }
    int nListed = 0;
    for (size_t i = 0; i < locations.size(); ++i) {
        if (locations[i].device.path.empty() || !isPresent(locations[i])) {
            continue;
        }
        ++nListed;
        const Fields fields = FieldsOf(static_cast<int>(i) + 1, locations[i], dirs);
        std::string line;
        switch (format) {
        case OutputFormat::Text:
            line = TextLine(fields);
            break;
        case OutputFormat::Csv:
            for (const auto& [name, value] : fields) {
                line += (line.empty() ? "" : ",") + CsvField(value);
            }
            line += '\n';
            break;
        case OutputFormat::Json:
            for (const auto& [name, value] : fields) {
                line +=
                    std::string(line.empty() ? "{" : ",") + "\"" + name + "\":" + JsonString(value);
            }
            line += "}\n";
            break;
        }
        if (!writer.WriteLine(line)) {
            break;
        }
    }
    return nListed > 0 ? kExitOk : kExitNoAnswer;
}
