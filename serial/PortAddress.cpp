#include "serial/PortAddress.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace {

constexpr std::string_view kSchemeEnd = "://";
constexpr int kMaxPort = 65535;

struct SchemeName {
    std::string_view name;
    NetworkProtocol protocol;
};
constexpr std::array<SchemeName, 2> kSchemes = {{
    {"tcp", NetworkProtocol::RawTcp},
    {"rfc2217", NetworkProtocol::Rfc2217},
}};

constexpr std::string_view kForms = "tcp://HOST:PORT or rfc2217://HOST:PORT";

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

// Where the scheme ends (the position of "://"), when the text begins with one: a letter, then
// letters, digits, '+', '-' or '.'.
std::optional<size_t> SchemeLength(std::string_view text) {
    const size_t end = text.find(kSchemeEnd);
    if (end == std::string_view::npos || end == 0 ||
        std::isalpha(static_cast<unsigned char>(text[0])) == 0) {
        return std::nullopt;
    }
    const bool bSchemeChars =
        std::all_of(text.begin(), text.begin() + static_cast<long>(end), [](char c) {
            return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '+' || c == '-' ||
                   c == '.';
        });
    return bSchemeChars ? std::optional<size_t>(end) : std::nullopt;
}

// A host name or an IPv4 address: what a resolver may be asked about. Anything else (spaces, a
// path, a user name before '@') is a typing mistake, said before any lookup.
bool IsHostName(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '-' || c == '.' || c == '_';
    });
}

bool IsIpv6Literal(std::string_view host) {
    return !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
        return std::isxdigit(static_cast<unsigned char>(c)) != 0 || c == ':' || c == '.';
    });
}

// The interface of a link-local address (eth0, enp3s0, or its number): what follows the '%'.
bool IsZone(std::string_view zone) {
    return !zone.empty() && std::all_of(zone.begin(), zone.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || c == '-' || c == '.';
    });
}

// An IPv6 literal with its zone as the system's resolver takes it, "fe80::1%eth0"; the zone also
// as URIs write it, "%25eth0". Nothing when it is none.
std::optional<std::string> Ipv6Host(std::string_view text) {
    const size_t percent = text.find('%');
    const std::string_view address = text.substr(0, percent);
    if (!IsIpv6Literal(address)) {
        return std::nullopt;
    }
    if (percent == std::string_view::npos) {
        return std::string(address);
    }
    std::string_view zone = text.substr(percent + 1);
    if (zone.size() > 2 && zone.substr(0, 2) == "25") {
        zone.remove_prefix(2); // "%25" is a '%' written for a URI
    }
    if (!IsZone(zone)) {
        return std::nullopt;
    }
    return std::string(address) + "%" + std::string(zone);
}

} // namespace

bool IsNetworkPort(std::string_view text) {
    return SchemeLength(text).has_value();
}

std::optional<NetworkAddress> ParseNetworkAddress(std::string_view text, std::string& error,
                                                  bool bAllowAnyPort) {
    const std::optional<size_t> schemeLength = SchemeLength(text);
    if (!schemeLength) {
        error = "not a network port (" + std::string(kForms) + ")";
        return std::nullopt;
    }
    const std::string_view scheme = text.substr(0, *schemeLength);
    const auto known = std::find_if(kSchemes.begin(), kSchemes.end(), [&](const SchemeName& s) {
        return EqualsIgnoringCase(s.name, scheme);
    });
    if (known == kSchemes.end()) {
        error = "unknown kind of port " + std::string(scheme) + ":// (" + std::string(kForms) + ")";
        return std::nullopt;
    }
    NetworkAddress address;
    address.protocol = known->protocol;
    std::string_view rest = text.substr(*schemeLength + kSchemeEnd.size());
    if (!rest.empty() && rest.back() == '/') {
        rest.remove_suffix(1); // "tcp://host:4001/" as some tools write it
    }

    std::string host;
    std::string_view port;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string_view::npos) {
            error = "the IPv6 address lacks its closing ']'";
            return std::nullopt;
        }
        const std::string_view literal = rest.substr(1, close - 1);
        const std::optional<std::string> ipv6 = Ipv6Host(literal);
        if (!ipv6) {
            error = "\"" + std::string(literal) + "\" is not an IPv6 address";
            return std::nullopt;
        }
        host = *ipv6;
        rest.remove_prefix(close + 1);
        if (rest.empty() || rest.front() != ':') {
            error = "the port number is missing (" + std::string(kForms) + ")";
            return std::nullopt;
        }
        port = rest.substr(1);
    } else {
        const size_t colon = rest.rfind(':');
        if (colon == std::string_view::npos) {
            error = "the port number is missing (" + std::string(kForms) + ")";
            return std::nullopt;
        }
        host = std::string(rest.substr(0, colon));
        port = rest.substr(colon + 1);
        if (host.find(':') != std::string::npos) {
            error = "an IPv6 address goes in brackets, e.g. tcp://[::1]:4001";
            return std::nullopt;
        }
        if (host.empty()) {
            error = "the host is missing (" + std::string(kForms) + ")";
            return std::nullopt;
        }
        if (!IsHostName(host)) {
            error = "\"" + host + "\" is not a host name or address";
            return std::nullopt;
        }
    }
    int nPort = -1;
    const auto [pEnd, ec] = std::from_chars(port.data(), port.data() + port.size(), nPort);
    const int nLowest = bAllowAnyPort ? 0 : 1;
    if (port.empty() || ec != std::errc() || pEnd != port.data() + port.size() || nPort < nLowest ||
        nPort > kMaxPort) {
        error = "\"" + std::string(port) + "\" is not a port number " + std::to_string(nLowest) +
                ".." + std::to_string(kMaxPort);
        return std::nullopt;
    }
    address.host = host;
    address.nPort = static_cast<uint16_t>(nPort);
    return address;
}

std::string FormatNetworkAddress(const NetworkAddress& address) {
    const std::string_view scheme =
        address.protocol == NetworkProtocol::Rfc2217 ? "rfc2217" : "tcp";
    const bool bBrackets = address.host.find(':') != std::string::npos;
    return std::string(scheme) + "://" + (bBrackets ? "[" : "") + address.host +
           (bBrackets ? "]" : "") + ":" + std::to_string(address.nPort);
}
