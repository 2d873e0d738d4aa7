#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// A serial port on the network, reached through a serial device server, named where a device
// path would go: tcp://HOST:PORT (raw bytes; the server sets the line itself) or
// rfc2217://HOST:PORT (Telnet with the COM-port option: the line is set from here). HOST is a
// name, an IPv4 address or an IPv6 address in brackets ([::1]), a link-local one with the zone of
// its interface ([fe80::1%eth0], or [fe80::1%25eth0] as URIs write it).

enum class NetworkProtocol { RawTcp, Rfc2217 };

struct NetworkAddress {
    NetworkProtocol protocol = NetworkProtocol::RawTcp;
    std::string host; // without the brackets of an IPv6 literal; its zone after a '%'
    uint16_t nPort = 0;
};

// True when the text names a network port (it begins with a scheme and "://"), whether or not
// the rest is well formed: such a text is never a device path, and ParseNetworkAddress says
// what is wrong with it.
bool IsNetworkPort(std::string_view text);

// The address a network port names; nothing, with the reason in `error`, when the text is not one
// of the forms above. A port number of 0 (the system picks one) only where bAllowAnyPort is set:
// a server that listens may take any, a connection needs the one the server listens on.
std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string& error,
                                                  bool bAllowAnyPort = false);

// The address written back as a port name: "rfc2217://[::1]:4001".
std::string FormatNetworkAddress(const NetworkAddress& address);
