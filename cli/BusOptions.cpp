#include "cli/BusOptions.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>

#include "cli/BusFeatures.h"
#include "cli/OperandLists.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/FrameCodec.h"
#include "protocol/NumberText.h"
#include "serial/PortAddress.h"
#include "serial/PortDevice.h"

namespace {

constexpr int kMaxComPort = 255;
constexpr int64_t kMinSpeed = 50;
constexpr int64_t kMaxSpeed = 4'000'000;
constexpr int64_t kMaxTimeoutMs = 600'000;
// A converter that needs longer than this around a frame is broken, not slow.
constexpr int64_t kMaxRtsDelayMs = 1'000;
constexpr int64_t kMaxIntervalMs = 86'400'000; // a day
constexpr int64_t kMaxCount = 1'000'000'000;
// More tries than this only hide a bus that needs mending.
constexpr int64_t kMaxRetries = 10;
constexpr int64_t kMaxQueue = 10'000'000;
// MQTT's packet identifiers allow this many messages in flight, at most.
constexpr int64_t kMaxInflight = 65'535;
constexpr int64_t kMinKeepAlive = 5; // libmosquitto's least
constexpr int64_t kMaxKeepAlive = 3'600;

// The settings of --publish, made when the first of its options comes.
PublishSettings& Publish(BusOptions& o) {
    if (!o.publish) {
        o.publish.emplace();
    }
    return *o.publish;
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

bool SetPort(BusOptions& o, std::string_view value, std::string& error) {
    // "COM12:" as Windows users type it, from the days of device names with a colon.
    std::string_view com = value;
    if (com.size() > 1 && com.back() == ':' && ParseComName(com.substr(0, com.size() - 1))) {
        com.remove_suffix(1);
    }
    if (const std::optional<int> n = ParseComName(com)) {
        if (*n < 1 || *n > kMaxComPort) {
            error = "--port: " + Quoted(value) + " is not a port COM1..COM" +
                    std::to_string(kMaxComPort);
            return false;
        }
        o.nComPort = *n;
        o.strDevicePath.clear();
        return true;
    }
    if (value.empty()) {
        error = "--port needs a device path or COMn";
        return false;
    }
    // A device server's address is checked now: a typing mistake is a usage error, not a port
    // that cannot be opened.
    if (std::string reason; IsNetworkPort(value) && !ParseNetworkAddress(value, reason)) {
        error = "--port: " + Quoted(value) + ": " + reason;
        return false;
    }
    o.strDevicePath = value;
    return true;
}

// One of a few words, each standing for a code.
struct Choice {
    std::string_view word;
    int code;
};

template <size_t N>
bool SetChoice(int& target, std::string_view option, const std::array<Choice, N>& choices,
               std::string_view value, std::string& error) {
    for (const Choice& choice : choices) {
        if (choice.word == value) {
            target = choice.code;
            return true;
        }
    }
    std::string words;
    for (const Choice& choice : choices) {
        words += (words.empty() ? "" : ", ") + std::string(choice.word);
    }
    error = std::string(option) + ": " + Quoted(value) + " is not one of " + words;
    return false;
}

bool SetNumber(int64_t& target, std::string_view option, std::string_view value, int64_t low,
               int64_t high, std::string& error) {
    const auto number = ParseWholeNumber(value, low, high);
    if (!number) {
        error = std::string(option) + ": " + Quoted(value) + " is not a whole number from " +
                std::to_string(low) + " to " + std::to_string(high);
        return false;
    }
    target = *number;
    return true;
}

bool SetAddress(int& target, std::string_view option, std::string_view value, std::string& error) {
    const auto address = ParseAddress(value);
    if (!address) {
        error = std::string(option) + ": " + Quoted(value) + " is not an address 00..99";
        return false;
    }
    target = *address;
    return true;
}

// An option that takes a value; `only` names the one command it belongs to (None: every command,
// or those that CheckSetupOptions names), `feature` what a build must hold to take it.
struct ValueOption {
    std::string_view name;
    BusCommand only;
    bool (*apply)(BusOptions&, std::string_view, std::string&);
    BusFeature feature = BusFeature::Everywhere;
};

bool SetRtsDelay(std::chrono::milliseconds& target, std::string_view option, std::string_view value,
                 std::string& error) {
    int64_t n = 0;
    if (!SetNumber(n, option, value, 0, kMaxRtsDelayMs, error)) {
        return false;
    }
    target = std::chrono::milliseconds(n);
    return true;
}

const std::array<ValueOption, 27> kValueOptions = {{
    {"--port", BusCommand::None, SetPort},
    {"--speed", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--speed", v, kMinSpeed, kMaxSpeed, e) &&
                (o.line.speed = static_cast<int>(n), true);
     }},
    {"--data", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         static constexpr std::array<Choice, 2> kChoices = {{{"7", 7}, {"8", 8}}};
         return SetChoice(o.line.dataBits, "--data", kChoices, v, e);
     }},
    {"--parity", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         static constexpr std::array<Choice, 3> kChoices = {{{"none", 0}, {"odd", 1}, {"even", 2}}};
         return SetChoice(o.line.parity, "--parity", kChoices, v, e);
     }},
    {"--stop", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         static constexpr std::array<Choice, 2> kChoices = {{{"1", 0}, {"2", 2}}};
         return SetChoice(o.line.stopBits, "--stop", kChoices, v, e);
     }},
    {"--bank", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         static constexpr std::array<Choice, 2> kChoices = {{{"0", 0}, {"1", 1}}};
         return SetChoice(o.nBank, "--bank", kChoices, v, e);
     }},
    {"--timeout", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--timeout", v, 1, kMaxTimeoutMs, e) &&
                (o.timeout = std::chrono::milliseconds(n), true);
     }},
    {"--reply-window", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--reply-window", v, 1, kMaxTimeoutMs, e) &&
                (o.replyWindow = std::chrono::milliseconds(n), true);
     }},
    {"--rts-delay-before", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         return SetRtsDelay(o.rtsDelayBefore, "--rts-delay-before", v, e);
     }},
    {"--rts-delay-after", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         return SetRtsDelay(o.rtsDelayAfter, "--rts-delay-after", v, e);
     }},
    {"--format", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         static constexpr std::array<Choice, 3> kChoices = {
             {{"text", static_cast<int>(OutputFormat::Text)},
              {"csv", static_cast<int>(OutputFormat::Csv)},
              {"json", static_cast<int>(OutputFormat::Json)}}};
         int code = 0;
         return SetChoice(code, "--format", kChoices, v, e) &&
                (o.format = static_cast<OutputFormat>(code), true);
     }},
    {"--retries", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--retries", v, 0, kMaxRetries, e) &&
                (o.nRetries = static_cast<int>(n), true);
     }},
    {"--publish", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         const bool ok = ParsePublishUrl(v, Publish(o), e);
         if (!ok) {
             e = "--publish: " + Quoted(RedactedUrl(v)) + ": " + e;
         }
         return ok;
     },
     BusFeature::Publish},
    {"--ca-file", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         Publish(o).caFile = v;
         return !v.empty() || (e = "--ca-file needs a file", false);
     },
     BusFeature::Publish},
    {"--password-file", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         Publish(o).passwordFile = v;
         return !v.empty() || (e = "--password-file needs a file", false);
     },
     BusFeature::Publish},
    {"--queue", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--queue", v, 1, kMaxQueue, e) &&
                (Publish(o).nQueue = static_cast<size_t>(n), true);
     },
     BusFeature::Publish},
    {"--inflight", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--inflight", v, 1, kMaxInflight, e) &&
                (Publish(o).nInflight = static_cast<int>(n), true);
     },
     BusFeature::Publish},
    {"--keepalive", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--keepalive", v, kMinKeepAlive, kMaxKeepAlive, e) &&
                (Publish(o).nKeepAliveSeconds = static_cast<int>(n), true);
     },
     BusFeature::Publish},
    {"--spool", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         Publish(o).spoolFile = v;
         return !v.empty() || (e = "--spool needs a file", false);
     },
     BusFeature::Publish},
    // --ha-discovery alone is a flag; with =PREFIX it names the discovery prefix.
    {"--ha-discovery", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         Publish(o).bHaDiscovery = true;
         Publish(o).haPrefix = v;
         return ValidTopicPrefix(v) ||
                (e = "--ha-discovery: " + Quoted(v) +
                     " is not a topic prefix (no + or #, no empty level, no $ at the start)",
                 false);
     },
     BusFeature::Publish},
    {"--unit", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         Publish(o).unit = v;
         return !v.empty() || (e = "--unit needs a unit, such as m3/h", false);
     },
     BusFeature::Publish},
    {"--from", BusCommand::Scan,
     [](BusOptions& o, std::string_view v, std::string& e) {
         return SetAddress(o.nFrom, "--from", v, e);
     }},
    // scan: the last address; restore: the meter written to.
    {"--to", BusCommand::None,
     [](BusOptions& o, std::string_view v, std::string& e) {
         return SetAddress(o.nTo, "--to", v, e) && (o.nTarget = o.nTo, true);
     }},
    {"-o", BusCommand::Backup,
     [](BusOptions& o, std::string_view v, std::string& e) {
         o.strOutput = v;
         return !v.empty() || (e = "-o needs a file", false);
     }},
    {"--output", BusCommand::Backup,
     [](BusOptions& o, std::string_view v, std::string& e) {
         o.strOutput = v;
         return !v.empty() || (e = "--output needs a file", false);
     }},
    {"--interval", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         int64_t n = 0;
         return SetNumber(n, "--interval", v, 0, kMaxIntervalMs, e) &&
                (o.interval = std::chrono::milliseconds(n), true);
     }},
    {"--count", BusCommand::Watch,
     [](BusOptions& o, std::string_view v, std::string& e) {
         return SetNumber(o.nCount, "--count", v, 1, kMaxCount, e);
     }},
}};

struct CommandName {
    std::string_view word;
    BusCommand command;
};
constexpr std::array<CommandName, 8> kCommands = {{{"scan", BusCommand::Scan},
                                                   {"read", BusCommand::Read},
                                                   {"watch", BusCommand::Watch},
                                                   {"send", BusCommand::Send},
                                                   {"write", BusCommand::Write},
                                                   {"backup", BusCommand::Backup},
                                                   {"restore", BusCommand::Restore},
                                                   {"ports", BusCommand::Ports}}};
constexpr std::string_view kCommandWords =
    "scan, read, watch, send, write, backup, restore or ports";

// An option without a value; `feature` what a build must hold to take it.
struct FlagOption {
    std::string_view name;
    void (*apply)(BusOptions&);
    BusFeature feature = BusFeature::Everywhere;
};
constexpr std::array<FlagOption, 7> kFlagOptions = {{
    {"--dry-run", [](BusOptions& o) { o.bDryRun = true; }},
    {"-q", [](BusOptions& o) { o.nQuiet = std::min(o.nQuiet + 1, 2); }},
    {"-qq", [](BusOptions& o) { o.nQuiet = 2; }},
    {"-v", [](BusOptions& o) { o.bTrace = true; }},
    {"--trace", [](BusOptions& o) { o.bTrace = true; }},
    {"--stats", [](BusOptions& o) { o.bStats = true; }},
    {"--ha-discovery", [](BusOptions& o) { Publish(o).bHaDiscovery = true; }, BusFeature::Publish},
}};

std::string_view CommandWord(BusCommand command) {
    for (const CommandName& c : kCommands) {
        if (c.command == command) {
            return c.word;
        }
    }
    return {};
}

// write ADDRS REG VALUE [REG VALUE]...: the meters one by one, then pairs of a register and the
// value it is to hold. A range or a meter named twice would make a typing mistake rewrite meters
// nobody meant, so only a plain list is taken.
bool ParseWrite(const std::vector<std::string_view>& operands, BusOptions& o, std::string& error) {
    if (operands.size() < 3) {
        error = "write needs a meter, a register and its value, e.g. write 07 C1 123.4";
        return false;
    }
    for (size_t start = 0; start <= operands[0].size();) {
        const size_t comma = std::min(operands[0].find(',', start), operands[0].size());
        const std::string_view item = operands[0].substr(start, comma - start);
        start = comma + 1;
        if (item.find(':') != std::string_view::npos) {
            error = "write: " + Quoted(item) +
                    " is a range; the meters to write are named one by one, e.g. 07,08,09";
            return false;
        }
        int address = 0;
        if (!SetAddress(address, "write", item, error)) {
            return false;
        }
        if (std::find(o.addresses.begin(), o.addresses.end(), address) != o.addresses.end()) {
            error = "write: meter " + FormatAddress(address) + " is named twice";
            return false;
        }
        o.addresses.push_back(address);
    }
    for (size_t i = 1; i < operands.size(); i += 2) {
        const std::optional<int> reg = ParseRegisterCode(operands[i]);
        if (!reg) {
            error = "write: " + Quoted(operands[i]) +
                    " is not a register (C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1)";
            return false;
        }
        if (*reg == kRegisterProcessValue) {
            error = "write: P0 is the process value, which the meter measures; it is not written";
            return false;
        }
        const std::string code(RegisterCodeTable[static_cast<size_t>(*reg)]);
        if (std::any_of(o.writes.begin(), o.writes.end(),
                        [&](const RegisterWrite& w) { return w.registerIndex == *reg; })) {
            error = "write: " + code + " is given twice";
            return false;
        }
        if (i + 1 >= operands.size()) {
            error = "write: " + code + " needs the value it is to hold";
            return false;
        }
        std::string why;
        const std::optional<ValueField> value = ParseValueText(operands[i + 1], why);
        if (!value) {
            error = "write " + code + ": " + why;
            return false;
        }
        o.writes.push_back(RegisterWrite{*reg, *value});
    }
    return true;
}

bool ParseBody(std::string_view body, BusOptions& o, std::string& error) {
    // A frame is bytes, one per character: a letter beyond ASCII has no byte of its own there.
    if (std::any_of(body.begin(), body.end(),
                    [](char c) { return static_cast<unsigned char>(c) >= 0x80; })) {
        error = "send: the body holds a character that is not ASCII; a frame carries ASCII only";
        return false;
    }
    if (body.size() != kFrameBodyLength) {
        // Every character is one byte here: the count is what the user typed.
        error = "send: the body has " + std::to_string(body.size()) + " characters, not " +
                std::to_string(kFrameBodyLength) + " (e.g. 07RX0P0+0000000)";
        return false;
    }
    if (!std::all_of(body.begin(), body.end(), [](char c) { return c >= 0x20 && c <= 0x7E; })) {
        error = "send: the body holds a character that is not printable ASCII";
        return false;
    }
    if (!ParseAddress(body.substr(0, 2))) {
        error = "send: the body must begin with the meter's address, two digits";
        return false;
    }
    o.strBody = body;
    return true;
}

// The operands after the command word.
bool ParseOperands(const std::vector<std::string_view>& operands, BusOptions& o,
                   std::string& error) {
    const std::string_view command = CommandWord(o.command);
    switch (o.command) {
    case BusCommand::Scan:
        // A list instead of the range: the addresses a plant uses, not all hundred.
        if (operands.size() > 1) {
            error = "scan takes one list of addresses: " + Quoted(operands[1]);
            return false;
        }
        if (!operands.empty()) {
            const auto list = ParseAddressList(operands[0], error);
            if (!list) {
                error = "scan: " + error;
                return false;
            }
            o.addresses = *list;
        }
        return true;
    case BusCommand::Read:
    case BusCommand::Watch:
        if (operands.empty()) {
            error = std::string(command) + " needs an address";
            return false;
        }
        for (size_t i = 0; i < operands.size(); ++i) {
            // read: the meters first, then the registers; watch: meters only.
            const bool bRegisters = o.command == BusCommand::Read && i > 0;
            const auto list = bRegisters ? ParseRegisterList(operands[i], error)
                                         : ParseAddressList(operands[i], error);
            if (!list) {
                error = std::string(command) + ": " + error;
                return false;
            }
            auto& target = bRegisters ? o.registers : o.addresses;
            target.insert(target.end(), list->begin(), list->end());
        }
        return true;
    case BusCommand::Ports:
        if (!operands.empty()) {
            error = "ports takes nothing more: " + Quoted(operands[0]);
            return false;
        }
        return true;
    case BusCommand::Send:
        if (operands.size() != 1) {
            error = "send needs exactly one body of 15 characters";
            return false;
        }
        return ParseBody(operands[0], o, error);
    case BusCommand::Write:
        return ParseWrite(operands, o, error);
    case BusCommand::Backup:
        if (operands.size() != 1) {
            error = "backup needs exactly one meter's address";
            return false;
        }
        return SetAddress(o.nTarget, "backup", operands[0], error);
    case BusCommand::Restore:
        if (operands.size() != 1) {
            error = "restore needs exactly one backup file, and the meter to write to: "
                    "restore FILE --to ADDR";
            return false;
        }
        o.strFile = operands[0];
        return true;
    case BusCommand::None:
        break;
    }
    error = "no command given: " + std::string(kCommandWords);
    return false;
}

// What goes with write, backup and restore, and what does not.
bool CheckSetupOptions(const BusOptions& o, const std::vector<const ValueOption*>& given,
                       std::string& error) {
    const auto isGiven = [&given](std::string_view name) {
        return std::any_of(given.begin(), given.end(),
                           [name](const ValueOption* option) { return option->name == name; });
    };
    if (isGiven("--to") && o.command != BusCommand::Scan && o.command != BusCommand::Restore) {
        error = "--to belongs to scan and restore, not to " + std::string(CommandWord(o.command));
        return false;
    }
    if (o.bDryRun && o.command != BusCommand::Write && o.command != BusCommand::Restore) {
        error =
            "--dry-run belongs to write and restore, not to " + std::string(CommandWord(o.command));
        return false;
    }
    if ((o.command == BusCommand::Backup || o.command == BusCommand::Restore) &&
        isGiven("--bank")) {
        error =
            "--bank: " + std::string(CommandWord(o.command)) + " takes both banks; write takes one";
        return false;
    }
    if (o.command == BusCommand::Restore && !isGiven("--to")) {
        error = "restore needs --to ADDR: the meter to write the backup to (the same or another)";
        return false;
    }
    return true;
}

// The options that say how to publish, together: each needs --publish, and some each other.
bool CheckPublishOptions(const BusOptions& options, std::string& error) {
    if (!options.publish) {
        return true;
    }
    const PublishSettings& p = *options.publish;
    if (p.host.empty()) {
        error = "--ca-file, --password-file, --queue, --inflight, --keepalive, --spool, "
                "--ha-discovery and --unit go with --publish";
        return false;
    }
    if (!p.caFile.empty() && !p.bTls) {
        error = "--ca-file goes with an mqtts:// broker";
        return false;
    }
    if (!p.passwordFile.empty() && p.user.empty()) {
        error = "--password-file needs a user in the URL: mqtt://USER@HOST/PREFIX";
        return false;
    }
    if (!p.unit.empty() && !p.bHaDiscovery) {
        error = "--unit goes with --ha-discovery";
        return false;
    }
    return true;
}

} // namespace

std::vector<std::string_view> BusOptionNames(bool bEveryBuild) {
    std::vector<std::string_view> names = {"-h", "--help", "--version"};
    for (const FlagOption& flag : kFlagOptions) {
        if (bEveryBuild || HasBusFeature(flag.feature)) {
            names.push_back(flag.name);
        }
    }
    for (const ValueOption& option : kValueOptions) {
        if (bEveryBuild || HasBusFeature(option.feature)) {
            names.push_back(option.name);
        }
    }
    return names;
}

bool ParseBusOptions(std::span<const std::string_view> args, BusOptions& options,
                     std::string& error) {
    std::vector<std::string_view> operands;
    std::vector<const ValueOption*> given;
    bool bOptionsEnd = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string_view arg = args[i];
        // After the command, "-1" is a (wrong) number given as an operand, not an option.
        const bool bNegativeNumber =
            options.command != BusCommand::None && arg.size() > 1 &&
            (std::isdigit(static_cast<unsigned char>(arg[1])) != 0 || arg[1] == '.');
        const bool bOption = !bOptionsEnd && arg.size() > 1 && arg[0] == '-' && !bNegativeNumber;
        if (!bOption) {
            if (options.command != BusCommand::None) {
                operands.push_back(arg);
                continue;
            }
            const auto found = std::find_if(kCommands.begin(), kCommands.end(),
                                            [arg](const CommandName& c) { return c.word == arg; });
            if (found == kCommands.end()) {
                error = "unknown command " + Quoted(arg) + " (" + std::string(kCommandWords) + ")";
                return false;
            }
            options.command = found->command;
            continue;
        }
        if (arg == "--") {
            bOptionsEnd = true;
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.bHelp = true;
            return true;
        }
        if (arg == "--version") {
            options.bVersion = true;
            return true;
        }
        const auto flag = std::find_if(kFlagOptions.begin(), kFlagOptions.end(),
                                       [arg](const FlagOption& f) { return f.name == arg; });
        if (flag != kFlagOptions.end()) {
            if (!HasBusFeature(flag->feature)) {
                error = std::string(arg) + ": " + MissingBusFeature(flag->feature);
                return false;
            }
            flag->apply(options);
            continue;
        }
        // --name value or --name=value.
        const size_t equals = arg.find('=');
        const std::string_view name = arg.substr(0, equals);
        const auto option = std::find_if(kValueOptions.begin(), kValueOptions.end(),
                                         [name](const ValueOption& o) { return o.name == name; });
        if (option == kValueOptions.end()) {
            error = "unknown option " + std::string(name);
            return false;
        }
        if (!HasBusFeature(option->feature)) {
            error = std::string(name) + ": " + MissingBusFeature(option->feature);
            return false;
        }
        std::string_view value;
        if (equals != std::string_view::npos) {
            value = arg.substr(equals + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            error = std::string(name) + " needs a value";
            return false;
        }
        if (!option->apply(options, value, error)) {
            return false;
        }
        given.push_back(&*option);
    }
    if (!ParseOperands(operands, options, error)) {
        return false;
    }
    for (const ValueOption* option : given) {
        if (option->only != BusCommand::None && option->only != options.command) {
            error = std::string(option->name) + " belongs to " +
                    std::string(CommandWord(option->only)) + ", not to " +
                    std::string(CommandWord(options.command));
            return false;
        }
    }
    // A typed frame goes out once: it may be a write, and asking again is the user's to decide.
    if (options.command == BusCommand::Send &&
        std::any_of(given.begin(), given.end(),
                    [](const ValueOption* option) { return option->name == "--retries"; })) {
        error = "--retries belongs to scan, read and watch, not to send";
        return false;
    }
    if (options.nFrom > options.nTo) {
        error = "--from must not be above --to";
        return false;
    }
    const bool bRange = std::any_of(given.begin(), given.end(), [](const ValueOption* option) {
        return option->name == "--from" || option->name == "--to";
    });
    if (!CheckPublishOptions(options, error) || !CheckSetupOptions(options, given, error)) {
        return false;
    }
    if (options.command == BusCommand::Scan && bRange && !options.addresses.empty()) {
        error = "scan takes a list of addresses or --from and --to, not both";
        return false;
    }
    return true;
}
