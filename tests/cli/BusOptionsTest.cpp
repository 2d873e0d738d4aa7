#include "cli/BusOptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "cli/ReplyTimeout.h"
#include "protocol/CodeTables.h"

namespace {

// Everything a command line can set, on one line, so that a table can say what it expects.
std::string Describe(const BusOptions& o) {
    static constexpr std::string_view kCommands[] = {"none",  "scan",  "read",   "watch",  "send",
                                                     "ports", "write", "backup", "restore"};
    static constexpr std::string_view kFormats[] = {"text", "csv", "json"};
    static constexpr char kParity[] = {'N', 'O', 'E'};
    std::string text(kCommands[static_cast<int>(o.command)]);
    text += o.strDevicePath.empty() ? " COM" + std::to_string(o.nComPort) : " " + o.strDevicePath;
    text += " " + std::to_string(o.line.speed) + " " + std::to_string(o.line.dataBits) +
            kParity[o.line.parity] + (o.line.stopBits == 2 ? "2" : "1");
    text += " bank" + std::to_string(o.nBank) + " " + std::to_string(ReplyTimeout(o).count()) +
            "ms " + std::string(kFormats[static_cast<int>(o.format)]);
    if (o.replyWindow.count() != 0) {
        text += " window" + std::to_string(ReplyWindow(o).count());
    }
    if (o.nRetries != 0 || o.nQuiet != 0 || o.bTrace || o.bStats) {
        text += " retries" + std::to_string(o.nRetries) + " q" + std::to_string(o.nQuiet) +
                (o.bTrace ? " trace" : "") + (o.bStats ? " stats" : "");
    }
    if (o.publish) {
        const PublishSettings& p = *o.publish;
        text += std::string(p.bTls ? " mqtts " : " mqtt ") + (p.user.empty() ? "" : p.user + "@") +
                p.host + " " + std::to_string(p.port) + " " + p.prefix + " q" +
                std::to_string(p.nQueue) + (p.caFile.empty() ? "" : " ca " + p.caFile) +
                (p.passwordFile.empty() ? "" : " pw " + p.passwordFile);
        text += (p.nInflight == 100 ? "" : " in" + std::to_string(p.nInflight)) +
                (p.nKeepAliveSeconds == 30 ? "" : " ka" + std::to_string(p.nKeepAliveSeconds)) +
                (p.spoolFile.empty() ? "" : " spool " + p.spoolFile) +
                (p.bHaDiscovery ? " ha " + p.haPrefix : "") + (p.unit.empty() ? "" : " " + p.unit);
    }
    if (o.command == BusCommand::Scan && o.addresses.empty()) {
        text += " " + std::to_string(o.nFrom) + ".." + std::to_string(o.nTo);
    }
    for (const int a : o.addresses) {
        text += " @" + std::to_string(a);
    }
    for (const int r : o.registers) {
        text += " r" + std::to_string(r);
    }
    if (o.command == BusCommand::Watch) {
        text += " every" + std::to_string(o.interval.count()) + " x" + std::to_string(o.nCount);
    }
    if (!o.strBody.empty()) {
        text += " " + o.strBody;
    }
    if (o.rtsDelayBefore.count() != 0 || o.rtsDelayAfter.count() != 0) {
        text += " rts" + std::to_string(o.rtsDelayBefore.count()) + "/" +
                std::to_string(o.rtsDelayAfter.count());
    }
    return text;
}

struct OptionCase {
    const char* name;
    std::vector<std::string_view> args;
    std::string expected; // Describe() of the result, or "error: <part of the message>"
};

// Each case parsed: described as expected, or refused with a message holding the expected part.
void CheckCases(const std::vector<OptionCase>& cases, std::string (*describe)(const BusOptions&)) {
    const std::vector<std::string_view> taken = BusOptionNames();
    const std::vector<std::string_view> known = BusOptionNames(true);
    for (const OptionCase& c : cases) {
        BusOptions options;
        std::string error;
        const bool ok = ParseBusOptions(c.args, options, error);
        const std::string got = ok ? describe(options) : "error: " + error;
        // An option of a feature that this build lacks (publishing without MQTT) is refused as
        // such, whatever the case expects of a build that has it.
        const bool bNotInThisBuild = std::any_of(c.args.begin(), c.args.end(), [&](auto arg) {
            const std::string_view name = arg.substr(0, arg.find('='));
            return std::find(known.begin(), known.end(), name) != known.end() &&
                   std::find(taken.begin(), taken.end(), name) == taken.end();
        });
        if (bNotInThisBuild) {
            EXPECT_FALSE(ok) << c.name << ": " << got;
            EXPECT_NE(got.find("this qd7-bus was built without"), std::string::npos)
                << c.name << ": " << got;
        } else if (c.expected.rfind("error: ", 0) == 0) {
            EXPECT_FALSE(ok) << c.name << ": " << got;
            EXPECT_NE(got.find(c.expected.substr(7)), std::string::npos) << c.name << ": " << got;
        } else {
            EXPECT_EQ(got, c.expected) << c.name;
        }
    }
}

TEST(BusOptions, ParsesTheCommandLine) {
    const std::vector<OptionCase> cases = {
        {"defaults", {"scan"}, "scan COM1 9600 8N1 bank0 173ms text 0..99"},
        {"line settings before the command",
         {"--port", "/dev/ttyUSB0", "--speed", "19200", "--data", "7", "--parity", "even", "--stop",
          "2", "--bank", "1", "--format", "csv", "scan"},
         "scan /dev/ttyUSB0 19200 7E2 bank1 147ms csv 0..99"},
        {"options after the command, --name=value",
         {"scan", "--from=10", "--to", "20", "--port=com3"},
         "scan COM3 9600 8N1 bank0 173ms text 10..20"},
        {"timeout given",
         {"--timeout", "250", "--speed", "115200", "read", "7"},
         "read COM1 115200 8N1 bank0 250ms text @7"},
        {"default timeout at 115200",
         {"--speed", "115200", "scan"},
         "scan COM1 115200 8N1 bank0 121ms text 0..99"},
        {"registers in any case",
         {"read", "07", "p0", "Y1", "c3"},
         "read COM1 9600 8N1 bank0 173ms text @7 r0 r10 r4"},
        {"watch with interval and count",
         {"--format", "json", "watch", "01", "7", "99", "--interval", "0", "--count", "3"},
         "watch COM1 9600 8N1 bank0 173ms json @1 @7 @99 every0 x3"},
        {"watch runs until stopped by default",
         {"watch", "12"},
         "watch COM1 9600 8N1 bank0 173ms text @12 every1000 x0"},
        {"send",
         {"send", "07RX1C1+0000000"},
         "send COM1 9600 8N1 bank0 173ms text 07RX1C1+0000000"},
        {"a reply window",
         {"--reply-window", "1500", "scan"},
         "scan COM1 9600 8N1 bank0 173ms text window1500 0..99"},
        {"a reply window shorter than the timeout is the timeout",
         {"--reply-window=50", "--timeout", "400", "read", "07"},
         "read COM1 9600 8N1 bank0 400ms text window400 @7"},
        {"RTS delays lengthen the default timeout",
         {"--rts-delay-before", "3", "--rts-delay-after=2", "scan"},
         "scan COM1 9600 8N1 bank0 178ms text 0..99 rts3/2"},
        {"RTS delays beside a timeout given",
         {"--rts-delay-after", "5", "--timeout", "300", "read", "07"},
         "read COM1 9600 8N1 bank0 300ms text @7 rts0/5"},
        {"a device server's port",
         {"--port", "rfc2217://[::1]:4001", "scan"},
         "scan rfc2217://[::1]:4001 9600 8N1 bank0 173ms text 0..99"},
        {"address lists and ranges, registers likewise",
         {"read", "01,07", "P0,C0:C2", "y1"},
         "read COM1 9600 8N1 bank0 173ms text @1 @7 r0 r1 r2 r3 r10"},
        {"watch of a range",
         {"watch", "10:12,5"},
         "watch COM1 9600 8N1 bank0 173ms text @10 @11 @12 @5 every1000 x0"},
        {"scan of a list", {"scan", "01,07:08"}, "scan COM1 9600 8N1 bank0 173ms text @1 @7 @8"},
        {"retries, quiet, trace and statistics",
         {"-q", "--retries", "2", "-v", "--stats", "read", "07"},
         "read COM1 9600 8N1 bank0 173ms text retries2 q1 trace stats @7"},
        {"-qq and --trace",
         {"-qq", "--trace", "scan", "-q"},
         "scan COM1 9600 8N1 bank0 173ms text retries0 q2 trace 0..99"},
        {"ports", {"ports", "--format", "csv"}, "ports COM1 9600 8N1 bank0 173ms csv"},
        {"a port name with a colon, as Windows users type it",
         {"--port", "COM12:", "scan"},
         "scan COM12 9600 8N1 bank0 173ms text 0..99"},
        {"publishing to a broker",
         {"watch", "07", "--publish", "mqtt://plant-broker/plant/line1"},
         "watch COM1 9600 8N1 bank0 173ms text mqtt plant-broker 1883 plant/line1 q10000 @7 "
         "every1000 x0"},
        {"publishing over TLS with a login, a CA file, a password file and a queue",
         {"watch", "07", "--publish", "mqtts://meters@[fd00::5]:8884/a/b", "--ca-file", "ca.pem",
          "--password-file", "pw", "--queue", "50"},
         "watch COM1 9600 8N1 bank0 173ms text mqtts meters@fd00::5 8884 a/b q50 ca ca.pem pw pw "
         "@7 every1000 x0"},
        {"every way of publishing",
         {"watch", "07", "--publish", "mqtt://meters@b/p", "--password-file", "pw", "--inflight",
          "20", "--keepalive", "5", "--spool", "q.spool", "--ha-discovery", "--unit", "m3/h"},
         "watch COM1 9600 8N1 bank0 173ms text mqtt meters@b 1883 p q10000 pw pw in20 ka5 spool "
         "q.spool ha homeassistant m3/h @7 every1000 x0"},
        {"a discovery prefix of its own",
         {"watch", "07", "--publish", "mqtt://b/p", "--ha-discovery=ha/test"},
         "watch COM1 9600 8N1 bank0 173ms text mqtt b 1883 p q10000 ha ha/test @7 every1000 x0"},
        {"-- ends the options",
         {"send", "--", "07RX1C1+000000-"},
         "send COM1 9600 8N1 bank0 173ms text 07RX1C1+000000-"},

        {"no command", {"--speed", "9600"}, "error: no command"},
        {"unknown command", {"probe"}, "error: unknown command \"probe\""},
        {"unknown option", {"scan", "--baud", "9600"}, "error: unknown option --baud"},
        {"missing value", {"scan", "--speed"}, "error: --speed needs a value"},
        {"speed not a number", {"--speed", "fast", "scan"}, "error: --speed: \"fast\""},
        {"speed out of range", {"--speed", "0", "scan"}, "error: from 50 to 4000000"},
        {"negative timeout", {"--timeout", "-5", "scan"}, "error: --timeout"},
        {"zero timeout", {"--timeout", "0", "scan"}, "error: --timeout"},
        {"RTS delay beyond a second",
         {"--rts-delay-after", "1001", "scan"},
         "error: --rts-delay-after: \"1001\" is not a whole number from 0 to 1000"},
        {"parity word", {"--parity", "mark", "scan"}, "error: none, odd, even"},
        {"data bits", {"--data", "9", "scan"}, "error: --data"},
        {"stop bits", {"--stop", "1.5", "scan"}, "error: --stop"},
        {"bank", {"--bank", "2", "scan"}, "error: --bank"},
        {"format", {"--format", "xml", "scan"}, "error: text, csv, json"},
        {"COM0", {"--port", "COM0", "scan"}, "error: COM1..COM255"},
        {"empty port", {"--port=", "scan"}, "error: --port needs"},
        {"device server without a port number",
         {"--port", "tcp://meter-gw", "scan"},
         "error: --port: \"tcp://meter-gw\": the port number is missing"},
        {"three-digit address", {"read", "007"}, "error: \"007\" is not an address"},
        {"address above 99", {"watch", "100"}, "error: \"100\" is not an address"},
        {"read without address", {"read"}, "error: read needs an address"},
        {"watch without address", {"watch", "--count", "2"}, "error: watch needs an address"},
        {"unknown register", {"read", "07", "Z9"}, "error: \"Z9\" is not a register"},
        {"read of two meters", {"read", "07", "08"}, "error: \"08\" is not a register"},
        {"scan with a list and a range",
         {"scan", "07", "--to", "20"},
         "error: scan takes a list of addresses or --from and --to, not both"},
        {"scan with two lists", {"scan", "07", "08"}, "error: scan takes one list"},
        {"negative address", {"read", "-1"}, "error: read: \"-1\" is not an address 00..99"},
        {"empty item in a list", {"watch", "07,,08"}, "error: watch: \"\" is not an address"},
        {"range running downward", {"read", "19:10"}, "error: the range \"19:10\" runs downward"},
        {"register range running downward",
         {"read", "07", "C3:C0"},
         "error: the range \"C3:C0\" runs downward"},
        {"publish without a prefix",
         {"watch", "07", "--publish", "mqtt://broker"},
         "error: a topic prefix is needed"},
        {"publish to a wildcard",
         {"watch", "07", "--publish", "mqtt://b/plant/#"},
         "error: without + or #"},
        {"publish with an empty level",
         {"watch", "07", "--publish", "mqtt://b/a//c"},
         "error: an empty level"},
        {"password in the URL",
         {"watch", "07", "--publish", "mqtt://u:secret@b/p"},
         "error: --publish: \"mqtt://u:***@b/p\": no password in the URL: use QD7_MQTT_PASSWORD "
         "or --password-file"},
        {"publish to the broker's own topics",
         {"watch", "07", "--publish", "mqtt://b/$SYS/x"},
         "error: not a $ topic of the broker"},
        {"publish with an empty port",
         {"watch", "07", "--publish", "mqtt://b:/p"},
         "error: the port"},
        {"a password file without a user",
         {"watch", "07", "--publish", "mqtt://b/p", "--password-file", "pw"},
         "error: --password-file needs a user in the URL"},
        {"a unit without discovery",
         {"watch", "07", "--publish", "mqtt://b/p", "--unit", "m3/h"},
         "error: --unit goes with --ha-discovery"},
        {"a discovery prefix with a wildcard",
         {"watch", "07", "--publish", "mqtt://b/p", "--ha-discovery=ha/#"},
         "error: --ha-discovery: \"ha/#\" is not a topic prefix"},
        {"discovery without a broker",
         {"watch", "07", "--ha-discovery"},
         "error: go with --publish"},
        {"no window",
         {"watch", "07", "--publish", "mqtt://b/p", "--inflight", "0"},
         "error: --inflight"},
        {"a keep-alive libmosquitto refuses",
         {"watch", "07", "--publish", "mqtt://b/p", "--keepalive", "2"},
         "error: --keepalive"},
        {"publish with another scheme",
         {"watch", "07", "--publish", "http://b/p"},
         "error: not mqtt://"},
        {"publish port out of range",
         {"watch", "07", "--publish", "mqtt://b:70000/p"},
         "error: the port"},
        {"publish from read",
         {"read", "07", "--publish", "mqtt://b/p"},
         "error: --publish belongs to watch"},
        {"a CA file without TLS",
         {"watch", "07", "--publish", "mqtt://b/p", "--ca-file", "ca.pem"},
         "error: --ca-file goes with an mqtts:// broker"},
        {"a queue without a broker", {"watch", "07", "--queue", "5"}, "error: go with --publish"},
        {"retries beyond ten", {"--retries", "11", "scan"}, "error: --retries"},
        {"retries with send",
         {"--retries", "2", "send", "07RX0P0+0000000"},
         "error: --retries belongs to scan, read and watch, not to send"},
        {"zero reply window", {"--reply-window", "0", "scan"}, "error: --reply-window"},
        {"ports with an operand", {"ports", "07"}, "error: ports takes nothing more"},
        {"body with a letter beyond ASCII", {"send", "07RX0P0+000000\xc3\xa9"}, "error: not ASCII"},
        {"from above to",
         {"scan", "--from", "50", "--to", "40"},
         "error: --from must not be above"},
        {"scan option with watch", {"watch", "07", "--from", "3"}, "error: --from belongs to scan"},
        {"watch option with read",
         {"--count", "3", "read", "07"},
         "error: --count belongs to watch"},
        {"count zero", {"watch", "07", "--count", "0"}, "error: --count"},
        {"body too short", {"send", "07RX0P0"}, "error: 7 characters, not 15"},
        {"body not printable", {"send", "07RX0P0+000000\t"}, "error: not printable"},
        {"body without address", {"send", "A7RX0P0+0000000"}, "error: begin with the meter"},
        {"two bodies", {"send", "07RX0P0+0000000", "07RX0P0+0000000"}, "error: exactly one"},
    };
    CheckCases(cases, Describe);
}

// What a command line asks of write, backup and restore, on one line.
std::string DescribeSetup(const BusOptions& o) {
    std::string text = Describe(o);
    for (const RegisterWrite& w : o.writes) {
        text += " " + std::string(RegisterCodeTable[static_cast<size_t>(w.registerIndex)]) + "=" +
                FormatValueField(w.value);
    }
    text += o.nTarget >= 0 ? " to" + std::to_string(o.nTarget) : "";
    text += o.strFile.empty() ? "" : " file " + o.strFile;
    text += o.strOutput.empty() ? "" : " -o " + o.strOutput;
    return text + (o.bDryRun ? " dry" : "");
}

TEST(BusOptions, ParsesWritesBackupsAndRestores) {
    const std::vector<OptionCase> cases = {
        {"a write",
         {"write", "07", "C1", "123.4"},
         "write COM1 9600 8N1 bank0 173ms text @7 C1=123.4"},
        {"several registers of several meters, negative values, a bank",
         {"--bank", "1", "write", "07,12", "c3", "-15.25", "Y0", "-.5", "K1", "0.00005"},
         "write COM1 9600 8N1 bank1 173ms text @7 @12 C3=-15.25 Y0=-0.5 K1=0.00005"},
        {"a dry run",
         {"write", "07", "X1", "1000", "--dry-run"},
         "write COM1 9600 8N1 bank0 173ms text @7 X1=1000 dry"},
        {"a backup to a file",
         {"backup", "07", "-o", "meter07.json"},
         "backup COM1 9600 8N1 bank0 173ms text to7 -o meter07.json"},
        {"a backup to the output", {"backup", "7"}, "backup COM1 9600 8N1 bank0 173ms text to7"},
        {"a restore",
         {"restore", "meter07.json", "--to", "12", "--format", "csv"},
         "restore COM1 9600 8N1 bank0 173ms csv to12 file meter07.json"},
        {"a restore's dry run",
         {"--dry-run", "restore", "b.json", "--to=07"},
         "restore COM1 9600 8N1 bank0 173ms text to7 file b.json dry"},

        {"the process value", {"write", "07", "P0", "1"}, "error: P0 is the process value"},
        {"a range of meters", {"write", "07:09", "C1", "1"}, "error: \"07:09\" is a range"},
        {"a range in a list", {"write", "01,07:09", "C1", "1"}, "error: \"07:09\" is a range"},
        {"every meter", {"write", "all", "C1", "1"}, "error: write: \"all\" is not an address"},
        {"a meter twice", {"write", "07,7", "C1", "1"}, "error: meter 07 is named twice"},
        {"a register twice", {"write", "07", "C1", "1", "c1", "2"}, "error: C1 is given twice"},
        {"a register without a value",
         {"write", "07", "C1", "1", "C2"},
         "error: C2 needs the value"},
        {"nothing to write",
         {"write", "07"},
         "error: write needs a meter, a register and its value"},
        {"a register range", {"write", "07", "C0:C3", "1"}, "error: \"C0:C3\" is not a register"},
        {"a value out of range",
         {"write", "07", "C1", "1234567"},
         "error: write C1: \"1234567\" is out of range"},
        {"a value too fine",
         {"write", "07", "C1", "0.0000000001"},
         "error: the nearest value that can be written is 0"},
        {"a value with a comma", {"write", "07", "C1", "1,5"}, "error: is not a decimal number"},
        {"a backup of two meters", {"backup", "07,12"}, "error: \"07,12\" is not an address"},
        {"a backup without a meter", {"backup"}, "error: backup needs exactly one"},
        {"a backup of one bank", {"backup", "07", "--bank", "1"}, "error: backup takes both banks"},
        {"a restore without --to", {"restore", "b.json"}, "error: restore needs --to ADDR"},
        {"a restore of two files",
         {"restore", "a.json", "b.json", "--to", "7"},
         "error: restore needs exactly one backup file"},
        {"a restore to a bank",
         {"restore", "b.json", "--to", "7", "--bank", "0"},
         "error: restore takes both banks"},
        {"a dry run of a read",
         {"read", "07", "--dry-run"},
         "error: --dry-run belongs to write and restore"},
        {"-o elsewhere", {"read", "07", "-o", "x"}, "error: -o belongs to backup"},
        {"--to with read",
         {"read", "07", "--to", "12"},
         "error: --to belongs to scan and restore, not to read"},
    };
    CheckCases(cases, DescribeSetup);
}

TEST(BusOptions, HelpAndVersionWinOverEverythingAfterThem) {
    for (const std::vector<std::string_view>& args :
         {std::vector<std::string_view>{"--help", "--bogus"}, {"scan", "-h"}, {"--version", "x"}}) {
        BusOptions options;
        std::string error;
        EXPECT_TRUE(ParseBusOptions(args, options, error)) << error;
        EXPECT_TRUE(options.bHelp || options.bVersion);
    }
}

} // namespace
