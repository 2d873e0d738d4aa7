#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/PublishSettings.h"
#include "protocol/FrameCodec.h"
#include "protocol/ValueField.h"
#include "serial/LineSettings.h"

// One register of a write and the value it is to hold.
struct RegisterWrite {
    int registerIndex = 1;
    ValueField value;
};

enum class BusCommand { None, Scan, Read, Watch, Send, Ports, Write, Backup, Restore };
enum class OutputFormat { Text, Csv, Json };

// The command line of qd7-bus.
struct BusOptions {
    // The port: COMn (mapped as the window program maps it) unless a device path is given.
    int nComPort = 1;
    std::string strDevicePath;
    LineSettings line; // parity none, odd or even; one or two stop bits
    int nBank = 0;
    std::chrono::milliseconds timeout{0}; // 0: DefaultReplyTimeout of the line settings
    // How long after a request its reply may still come; a meter is not asked again before.
    std::chrono::milliseconds replyWindow{0}; // 0: kDefaultReplyWindow
    // Extra time RTS stays up before a frame's first byte and after its last, for converters
    // that switch direction slowly (CSerialPort::SetRtsDelays).
    std::chrono::milliseconds rtsDelayBefore{0};
    std::chrono::milliseconds rtsDelayAfter{0};
    OutputFormat format = OutputFormat::Text;
    // A failed exchange (silent or corrupt) is asked again up to this many times before its row
    // says so; each row carries the number of tries.
    int nRetries = 0;
    // 0: every row; 1 (-q): only the rows that are not ok; 2 (-qq): no rows, the exit code alone.
    int nQuiet = 0;
    bool bStats = false; // statistics per meter on stderr at the end (watch: always)
    bool bTrace = false; // every request and reply on stderr, with times
    // watch --publish: the rows to an MQTT broker as well.
    std::optional<PublishSettings> publish;

    BusCommand command = BusCommand::None;
    int nFrom = 0; // scan
    int nTo = kAddressCount - 1;
    std::vector<int> addresses; // read, watch: one or more; scan: a list given instead of a range
    std::vector<int> registers; // read: register indices; all eleven when none are named
    std::chrono::milliseconds interval{1000}; // watch: from the start of a round to the next
    int64_t nCount = 0;                       // watch: rounds; 0 until stopped
    std::string strBody;                      // send: 15 characters
    std::vector<RegisterWrite> writes;        // write: in the order given, each register once
    std::string strOutput;                    // backup -o: the file; empty: standard output
    std::string strFile;                      // restore: the backup
    int nTarget = -1;                         // restore --to: the meter written to
    // write, restore: no write goes out; write shows its frames (and opens no port), restore
    // reads the meter and shows what would change.
    bool bDryRun = false;

    bool bHelp = false;
    bool bVersion = false;
};

// Parses the arguments after the program name; options may stand before or after the command.
// False with `error` set on the first mistake.
bool ParseBusOptions(std::span<const std::string_view> args, BusOptions& options,
                     std::string& error);

// Every option this build takes, as typed: those of a feature the build lacks are left out, but
// for `bEveryBuild`.
std::vector<std::string_view> BusOptionNames(bool bEveryBuild = false);

// --help, laid out so that help2man can make the manual page from it, and describing this build.
std::string BusUsage();
// --version: "qd7-bus (qd7test) X.Y.Z".
std::string BusVersion();
