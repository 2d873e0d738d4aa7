#pragma once

#include <QString>

#include <string>

#include "serial/PortDevice.h"

// What item COMn of the setup dialog's port list stands for: the device it opens, how it was
// named ($QD7_COMn, or an adapter's stable name under /dev/serial/by-id), or that there is none,
// and, for an adapter, the name it is found again by after an unplug (looked up under dirs).
QString PortToolTip(int port, const PortLocation& location, const PortDirectories& dirs);

// The line put in front of the tooltip of a port that lost its device: it waits for that one,
// `reopenPath`, whatever COMn names now.
QString LostPortLine(const std::string& reopenPath);

// The line put after the tooltip of the port in use when the name it is opened again by after a
// loss may lead to another device by then (a link of the user's own, a network address).
QString UnstableNameLine(const std::string& reopenPath);
