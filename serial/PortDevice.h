#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which device each port number (COM1, COM2, ...) stands for.

// A port named by its number as users write it: "COM" in any case and decimal digits only
// ("COM3", "com12"), wherever a port is named (qd7-bus --port, $QD7_COMn on Windows). The number
// it spells; 0 where the digits spell no port ("COM0", or more than any port number), so that the
// caller can refuse it rather than take it for a device path. Nothing for any other name.
std::optional<int> ParseComName(std::string_view name);

// Where the system lists its serial ports. The program passes the real places; tests hand in
// folders of their own, with links to pseudo-terminals.
struct PortDirectories {
    std::string ttyClass = "/sys/class/tty"; // one folder per terminal; a UART's "type" is not 0
    std::string devices = "/dev";            // the device nodes, by the terminals' names
    std::string byId = "/dev/serial/by-id";  // USB adapters, by names that stay when replugged
    // USB adapters by the socket they are plugged into: the one stable name of an adapter that
    // has no serial number, since such adapters of one make share a by-id name.
    std::string byPath = "/dev/serial/by-path";
};

// One serial port present.
struct SerialDevice {
    std::string path;     // what is opened: /dev/ttyS0, or /dev/serial/by-id/usb-... of an adapter
    std::string device;   // the device node behind it now: /dev/ttyS0, /dev/ttyUSB0
    std::string byIdName; // an adapter's stable name; empty for a UART
};

// The serial ports present, in the order of their numbers: the UARTs whose driver reports a real
// port type, by number (ttyS2 before ttyS10), then the USB adapters by their sorted by-id names.
// Reads folders, small attribute files and links only: never opens a device, whose open alone
// could toggle its modem lines.
std::vector<SerialDevice> ListSerialDevices(const PortDirectories& dirs);

// The highest number COMn of the ports present: on Linux their count, the n-th port being COMn;
// on Windows the highest of their names (one adapter on COM12 is COM12).
int HighestPortNumber(const std::vector<SerialDevice>& present);

// What COMn stands for right now.
struct PortLocation {
    SerialDevice device;           // path empty: no device for that number
    bool bFromEnvironment = false; // named by $QD7_COMn
    int nPresent = 0;              // serial ports present, when the list was consulted
};

// The device $QD7_COMn names, when the variable is set and not empty: it wins over the system's
// own ports on every system.
std::optional<std::string> PortFromEnvironment(int port);

// $QD7_COMn when it is set and not empty, else the n-th port of ListSerialDevices (1-based). No
// device for a number below 1 or beyond the ports present.
PortLocation LocatePort(int port, const PortDirectories& dirs);
// LocatePort for COM1 to COMcount, the ports present listed once.
std::vector<PortLocation> LocatePorts(int count, const PortDirectories& dirs);

// How a device is found again after it went away (an adapter unplugged, a server restarted).
struct DeviceIdentity {
    std::string path;    // what a reopen opens
    bool bStable = true; // false: `path` may lead to another device by then
};

// The name that finds this device again: an adapter's by-id link when it has a serial number (or
// sysfs does not say it has none), its by-path link when it has none, since adapters without one
// share a by-id name and udev points it at whichever came last; else the path itself. A
// /dev/ttyUSBn number goes to whichever adapter is plugged in first. The path itself is no stable
// identity when it is a network address, a pseudo-terminal, or a link of the user's own whose
// device has no name of the system's: it may lead elsewhere by the time it is opened again.
DeviceIdentity IdentifyDevice(const std::string& path, const PortDirectories& dirs);
