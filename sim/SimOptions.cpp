#include "sim/SimOptions.h"

#include <algorithm>
#include <array>
#include <optional>

#include "protocol/FrameCodec.h"
#include "protocol/NumberText.h"
#include "serial/PortAddress.h"
#include "sim/SimDevice.h"

namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    while (true) {
        const size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) {
            return parts;
        }
        start = end + 1;
    }
}

bool ParseMeters(std::string_view text, std::vector<int>& meters, std::string& error) {
    meters.clear();
    for (const std::string_view item : Split(text, ',')) {
        const std::optional<int> address = ParseAddress(item);
        if (!address) {
            error = "--meters: \"" + std::string(item) + "\" is not an address 00..99";
            return false;
        }
        if (std::find(meters.begin(), meters.end(), *address) != meters.end()) {
            error = "--meters: address " + std::string(item) + " is given twice";
            return false;
        }
        meters.push_back(*address);
    }
    return true;
}

bool ParseSilence(std::string_view text, SimSilence& silence, std::string& error) {
    const std::vector<std::string_view> parts = Split(text, ':');
    const std::optional<int> address = ParseAddress(parts[0]);
    if (!address || (parts.size() != 1 && parts.size() != 3)) {
        error = "--silent: expected AA or AA:FROM:TO (address 00..99, seconds), got \"" +
                std::string(text) + "\"";
        return false;
    }
    silence.address = *address;
    silence.bAlways = parts.size() == 1;
    if (silence.bAlways) {
        return true;
    }
    constexpr int64_t kMaxSeconds = 1000000;
    const auto from = ParseWholeNumber(parts[1], 0, kMaxSeconds);
    const auto to = ParseWholeNumber(parts[2], 0, kMaxSeconds);
    if (!from || !to || *from >= *to) {
        error = "--silent: FROM and TO are whole seconds with FROM < TO, got \"" +
                std::string(text) + "\"";
        return false;
    }
    silence.from = std::chrono::seconds(*from);
    silence.to = std::chrono::seconds(*to);
    return true;
}

// --delay MS for every meter, or --delay AA:MS for one.
bool ParseDelay(std::string_view text, SimOptions& options, std::string& error) {
    const std::vector<std::string_view> parts = Split(text, ':');
    const std::optional<int> address = parts.size() == 2 ? ParseAddress(parts[0]) : std::nullopt;
    const auto delay = ParseWholeNumber(parts.back(), 0, SimFaults::kMaxDelay.count());
    if (!delay || parts.size() > 2 || (parts.size() == 2 && !address)) {
        error = "--delay: expected MS or AA:MS (address 00..99, milliseconds 0 to " +
                std::to_string(SimFaults::kMaxDelay.count()) + "), got \"" + std::string(text) +
                "\"";
        return false;
    }
    if (address) {
        options.meterDelays.push_back(SimMeterDelay{*address, std::chrono::milliseconds(*delay)});
    } else {
        options.faults.delay = std::chrono::milliseconds(*delay);
    }
    return true;
}

// The value options: name, the range of the number, where it goes.
struct NumberOption {
    std::string_view name;
    int64_t low;
    int64_t high;
    void (*store)(SimOptions&, int64_t);
};

const std::array<NumberOption, 6> kNumberOptions = {{
    {"--speed", 1, 4000000, [](SimOptions& o, int64_t v) { o.nSpeed = static_cast<int>(v); }},
    {"--seed", 0, UINT32_MAX, [](SimOptions& o, int64_t v) { o.nSeed = static_cast<uint32_t>(v); }},
    {"--drop", 0, 100,
     [](SimOptions& o, int64_t v) { o.faults.nDropPercent = static_cast<int>(v); }},
    {"--corrupt", 0, 100,
     [](SimOptions& o, int64_t v) { o.faults.nCorruptPercent = static_cast<int>(v); }},
    {"--noise", 0, SimFaults::kMaxExtraBytes,
     [](SimOptions& o, int64_t v) { o.faults.nNoiseBytes = static_cast<int>(v); }},
    {"--long", 0, SimFaults::kMaxExtraBytes,
     [](SimOptions& o, int64_t v) { o.faults.nLongExtraBytes = static_cast<int>(v); }},
}};

// The network's forms: addresses checked now, and what does not go with them.
bool CheckNetworkOptions(const SimOptions& o, bool speedGiven, std::string& error) {
    std::string reason;
    if (!o.strListen.empty()) {
        const std::optional<NetworkAddress> address =
            ParseNetworkAddress(o.strListen, reason, true);
        if (!address) {
            error = "--listen: \"" + o.strListen + "\": " + reason;
            return false;
        }
        if (address->protocol != NetworkProtocol::RawTcp) {
            error = "--listen: the simulator serves raw TCP only (tcp://HOST:PORT)";
            return false;
        }
        if (!o.strDevice.empty() || !o.strLink.empty()) {
            error = "--listen serves on TCP: it goes with neither --device nor --link";
            return false;
        }
        return true;
    }
    if (!IsNetworkPort(o.strDevice)) {
        return true;
    }
    const std::optional<NetworkAddress> address = ParseNetworkAddress(o.strDevice, reason);
    if (!address) {
        error = "--device: \"" + o.strDevice + "\": " + reason;
        return false;
    }
    if (!o.strLink.empty()) {
        error = "--link needs a device file, not a network port";
        return false;
    }
    if (speedGiven && address->protocol == NetworkProtocol::RawTcp) {
        error = "--speed: a raw TCP port's line is set on the device server (rfc2217:// sets it)";
        return false;
    }
    return true;
}

} // namespace

bool ParseSimOptions(std::span<const std::string_view> args, SimOptions& options,
                     std::string& error) {
    bool speedGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        if (arg == "--help" || arg == "-h") {
            options.bHelp = true;
            continue;
        }
        if (arg == "--version") {
            options.bVersion = true;
            continue;
        }
        if (arg == "--verbose") {
            options.bVerbose = true;
            continue;
        }
        if (arg == "--count-requests") {
            options.bCountRequests = true;
            continue;
        }
        if (arg.substr(0, 2) != "--") {
            error = "unexpected argument \"" + std::string(arg) + "\"";
            return false;
        }
        if (i + 1 >= args.size()) {
            error = std::string(arg) + " needs a value (see --help)";
            return false;
        }
        const std::string_view value = args[++i];
        if (arg == "--meters") {
            if (!ParseMeters(value, options.meters, error)) {
                return false;
            }
        } else if (arg == "--link" || arg == "--device") {
            if (value.empty()) {
                error = std::string(arg) + " needs a path";
                return false;
            }
            (arg == "--link" ? options.strLink : options.strDevice) = value;
        } else if (arg == "--listen") {
            options.strListen = value;
        } else if (arg == "--write-reply") {
            if (value != "wd" && value != "rd") {
                error = "--write-reply: \"" + std::string(value) + "\" is not one of wd, rd";
                return false;
            }
            options.nWriteReplyCommand = value == "rd" ? kCommandResponse : kCommandWriteResponse;
        } else if (arg == "--read-only") {
            const std::optional<int> address = ParseAddress(value);
            if (!address) {
                error = "--read-only: \"" + std::string(value) + "\" is not an address 00..99";
                return false;
            }
            options.readOnly.push_back(*address);
        } else if (arg == "--delay") {
            if (!ParseDelay(value, options, error)) {
                return false;
            }
        } else if (arg == "--silent") {
            SimSilence silence;
            if (!ParseSilence(value, silence, error)) {
                return false;
            }
            options.silences.push_back(silence);
        } else {
            const auto option =
                std::find_if(kNumberOptions.begin(), kNumberOptions.end(),
                             [arg](const NumberOption& o) { return o.name == arg; });
            if (option == kNumberOptions.end()) {
                error = "unknown option " + std::string(arg) + " (see --help)";
                return false;
            }
            const auto number = ParseWholeNumber(value, option->low, option->high);
            if (!number) {
                error = std::string(arg) + ": \"" + std::string(value) +
                        "\" is not a whole number from " + std::to_string(option->low) + " to " +
                        std::to_string(option->high);
                return false;
            }
            option->store(options, *number);
            speedGiven = speedGiven || arg == "--speed";
        }
    }
    if (options.bHelp || options.bVersion) {
        return true;
    }
    const auto hasMeter = [&](int address) {
        return std::find(options.meters.begin(), options.meters.end(), address) !=
               options.meters.end();
    };
    for (const SimSilence& silence : options.silences) {
        if (!hasMeter(silence.address)) {
            error =
                "--silent: there is no meter " + std::to_string(silence.address) + " in --meters";
            return false;
        }
    }
    for (const int address : options.readOnly) {
        if (!hasMeter(address)) {
            error = "--read-only: there is no meter " + std::to_string(address) + " in --meters";
            return false;
        }
    }
    for (const SimMeterDelay& delay : options.meterDelays) {
        if (!hasMeter(delay.address)) {
            error = "--delay: there is no meter " + std::to_string(delay.address) + " in --meters";
            return false;
        }
    }
    if (!CheckNetworkOptions(options, speedGiven, error)) {
        return false;
    }
    if (speedGiven && options.strDevice.empty()) {
        error = "--speed applies only with --device (a pseudo-terminal has no speed)";
        return false;
    }
    if (!IsStandardSpeed(options.nSpeed)) {
        error = "--speed: " + std::to_string(options.nSpeed) + " is not a standard speed";
        return false;
    }
    return true;
}

std::string SimUsage(std::string_view program) {
    std::string text = "Usage: " + std::string(program) + " [options]\n";
    text += "Simulated QD7 meters answering on a pseudo-terminal (or a port given with --device).\n"
            "Prints the device path (and the link) on one line, then serves until SIGINT, SIGTERM "
            "or SIGHUP.\n"
            "Meters answer RX with RD; WX stores the value and is answered with WD and the value\n"
            "it carried; RD and WD are replies and ignored.\n\n"
            "  --meters LIST     meter addresses, comma-separated, 00..99 (default 01), e.g. "
            "01,07,12\n"
            "  --link PATH       make a symbolic link PATH to the device; removed at exit\n"
            "  --device PATH     serve this existing port or pty instead of a new pseudo-terminal\n"
            "                    (or a device server's port: tcp://HOST:PORT, rfc2217://HOST:PORT\n"
            "                    with the line set at --speed)\n"
            "  --speed N         line speed for --device, a standard speed (default 9600), 8N1\n"
            "  --listen tcp://HOST:PORT\n"
            "                    serve on this TCP port instead, as a device server's raw port\n"
            "                    does, one client at a time (port 0: a free one; the address\n"
            "                    as bound is printed)\n"
            "  --seed N          seed of the random faults and noise (default 1)\n"
            "  --drop PCT        drop this share of replies, 0..100\n"
            "  --corrupt PCT     send this share of replies with a wrong CRC, 0..100\n"
            "  --noise N         send N random bytes before each reply\n"
            "  --delay [AA:]MS   send each reply MS milliseconds late; AA:MS for meter AA only\n"
            "                    (once per meter; it takes the place of a --delay MS)\n"
            "  --count-requests  every reply carries, as its value, the number of requests its\n"
            "                    meter has heard so far, this one included: a reading then\n"
            "                    says which request it answers\n"
            "  --long N          append N random bytes to each reply (e.g. 45: 64 bytes in all)\n"
            "  --silent AA[:FROM:TO]\n"
            "                    meter AA does not answer; with FROM:TO only from FROM to TO\n"
            "                    seconds after start (repeatable)\n"
            "  --read-only AA    meter AA answers writes but stores nothing (repeatable)\n"
            "  --write-reply wd|rd\n"
            "                    the command a write is answered with (default wd); rd answers\n"
            "                    as a read does, with the value written\n"
            "  --verbose         log every request, reply and byte to stderr\n"
            "  --help            show this help\n"
            "  --version         show the version\n";
    return text;
}
