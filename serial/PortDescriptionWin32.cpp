#include "serial/PortDescription.h"

#include <string.h>

#include "serial/PortsClassWin32.h"

PortDescription DescribePort(const SerialDevice& device, const PortDirectories&) {
    PortDescription description;
    // The port's name at the end of its path: \\.\COM3 names COM3.
    const size_t slash = device.path.find_last_of('\\');
    const std::string wanted =
        slash == std::string::npos ? device.path : device.path.substr(slash + 1);
    for (const PortsClassDevice& port : ListPortsClassDevices()) {
        if (_stricmp(port.portName.c_str(), wanted.c_str()) == 0) {
            description.vendorId = port.vendorId;
            description.productId = port.productId;
            description.manufacturer = port.manufacturer;
            description.product = port.product;
            description.serialNumber = port.serialNumber;
            description.friendlyName = port.friendlyName;
            description.hardwareId = port.hardwareId;
            break;
        }
    }
    return description;
}
