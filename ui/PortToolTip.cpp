#include "ui/PortToolTip.h"

#include "serial/PortAddress.h"

namespace {

// Paths and names from the serial library, which keeps its text in UTF-8 on every system.
QString SerialText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

} // namespace

QString PortToolTip(int port, const PortLocation& location, const PortDirectories& dirs) {
    const SerialDevice& device = location.device;
    if (device.path.empty()) {
        return QStringLiteral("No serial port (%1 present)").arg(location.nPresent);
    }
    if (location.bFromEnvironment && IsNetworkPort(device.path)) {
        return QStringLiteral("%1 (QD7_COM%2): a serial device server on the network")
            .arg(SerialText(device.path))
            .arg(port);
    }
    QString tip = SerialText(device.device.empty() ? device.path : device.device);
    if (location.bFromEnvironment) {
        tip += QStringLiteral(" (QD7_COM%1=%2)").arg(port).arg(SerialText(device.path));
    }
    // An adapter is found again by that name after an unplug, never by the number, which another
    // adapter may have taken meanwhile.
    if (!device.byIdName.empty()) {
        tip += QStringLiteral("\n") + SerialText(device.byIdName);
        const DeviceIdentity identity = IdentifyDevice(device.path, dirs);
        if (!identity.bStable) {
            tip += QStringLiteral("\nNo serial number: reopened by this name after an unplug, "
                                  "which another adapter of its make may have taken");
        } else if (identity.path == device.path) {
            tip += QStringLiteral("\nReopened by this name after an unplug, never as another "
                                  "adapter");
        } else {
            // Adapters of its make without serial numbers share that name.
            tip += QStringLiteral("\nNo serial number: reopened after an unplug by its USB "
                                  "socket, %1, never as another adapter")
                       .arg(SerialText(identity.path));
        }
    }
    return tip;
}

QString LostPortLine(const std::string& reopenPath) {
    return QStringLiteral("Unplugged: waits for %1 to come back, opens nothing else\n")
        .arg(SerialText(reopenPath));
}

QString UnstableNameLine(const std::string& reopenPath) {
    if (IsNetworkPort(reopenPath)) {
        return QStringLiteral("\nAfter a drop it connects to this address again, whatever "
                              "answers there then");
    }
    return QStringLiteral("\nNo stable identity: after an unplug it opens %1 again, whatever "
                          "device that names then")
        .arg(SerialText(reopenPath));
}
