#include "cli/BusProgram.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

#include "cli/BackupDocument.h"
#include "cli/BackupFile.h"
#include "cli/BusCommands.h"
#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/BusSetup.h"
#include "cli/BusTrace.h"
#include "cli/OutputFile.h"
#include "cli/PortList.h"
#include "cli/ReadingWriter.h"
#include "cli/ReplyTimeout.h"
#include "cli/RowPublisher.h"
#include "serial/PortAddress.h"
#include "serial/SerialPort.h"

namespace {

// A backup is a few kilobytes; a file far larger is something else, and is not read whole.
constexpr size_t kMaxBackupFile = 1 << 20;

// The exit code once the output is done with: `nError` is the error number of a write that
// failed, 0 when none did; the final flush may still find one. A reader that went away is no
// failure of ours (`qd7-bus scan | head -1`).
int FinishOutput(FILE* out, FILE* err, int nError, int code) {
    ClearOutputError();
    if (nError == 0 && (std::fflush(out) != 0 || std::ferror(out) != 0)) {
        nError = FailedOutputError();
    }
    if (nError == 0 || nError == EPIPE) {
        return code;
    }
    std::fprintf(err, "qd7-bus: cannot write the output: %s\n", std::strerror(nError));
    return kExitOutput;
}

// The command the options name, on the port they name.
int RunParsed(const BusOptions& options, FILE* out, FILE* err, const std::atomic<bool>& stop,
              const BusProcess& process) {
    std::string error;
    if (options.bHelp || options.bVersion) {
        const std::string text = options.bHelp ? BusUsage() : BusVersion();
        ClearOutputError();
        const int nError = std::fputs(text.c_str(), out) < 0 ? FailedOutputError() : 0;
        return FinishOutput(out, err, nError, kExitOk);
    }

    if (options.command == BusCommand::Ports) {
        CReadingWriter writer(out, options.format, false);
        const int code = ListPorts(writer, options.format, PortDirectories{});
        return FinishOutput(out, err, writer.Error(), code);
    }
    if (options.command == BusCommand::Write && options.bDryRun) {
        CReadingWriter writer(out, options.format, false);
        const int code = DryRunWrite(options, writer, err);
        return FinishOutput(out, err, writer.Error(), code);
    }
    // A backup is checked whole before the bus is touched: a damaged file sends nothing.
    std::optional<BackupDocument> backup;
    if (options.command == BusCommand::Restore) {
        std::string text;
        if (ReadSmallFile(options.strFile, kMaxBackupFile, text, error)) {
            backup = ParseBackup(text, error);
        }
        if (!backup) {
            std::fprintf(err, "qd7-bus: %s: %s; nothing was sent\n", options.strFile.c_str(),
                         error.c_str());
            return kExitUsage;
        }
    }
    // The broker first: a refused password file is said before the bus is touched. A broker that
    // is away is no error: the readings wait for it.
    std::unique_ptr<IRowPublisher> pPublisher;
    if (options.publish) {
        pPublisher = CreateRowPublisher(*options.publish, err, stop, error);
        if (!pPublisher) {
            std::fprintf(err, "qd7-bus: %s\n", error.c_str());
            return kExitUsage;
        }
    }
    CSerialPort port;
    port.SetRtsDelays(options.rtsDelayBefore, options.rtsDelayAfter);
    const PortHandle handle = options.strDevicePath.empty()
                                  ? port.Open(options.nComPort, options.line)
                                  : port.OpenPath(options.strDevicePath, options.line);
    // A speed a device server may confirm without setting it: tried, and said.
    const std::string& warning = port.Warning();
    if (handle == kNullPortHandle) {
        std::fprintf(err, "qd7-bus: %s%s%s\n", port.FailureReason().c_str(),
                     warning.empty() ? "" : "; ", warning.c_str());
        return kExitPortFailed;
    }
    if (!warning.empty()) {
        std::fprintf(err, "qd7-bus: %s: %s\n", port.OpenedPath().c_str(), warning.c_str());
    }

    const bool bNetwork = IsNetworkPort(port.OpenedPath());
    CBusExchange exchange(port, ReplyTimeout(options, bNetwork), ReplyWindow(options, bNetwork),
                          CharacterTime(options.line), stop);
    CBusTrace trace(err, options.line);
    if (options.bTrace) {
        exchange.SetTrace(&trace);
    }
    if (options.command == BusCommand::Scan) {
        exchange.SetFirstByteLimit(FirstByteLimit(options, bNetwork));
    }
    // A log appended to already has its header; a watch in text shows when each reading was.
    CReadingWriter writer(out, options.format, options.command == BusCommand::Watch);
    writer.SetQuiet(options.nQuiet);
    writer.SetWriteColumns(options.command == BusCommand::Write ||
                           options.command == BusCommand::Restore);
    writer.SetPublisher(pPublisher.get());
    CBusCommands commands(options, port, exchange, writer, err);
    commands.SetBackup(backup ? &*backup : nullptr);
    // Progress only for a person at a terminal, and not between the lines of a trace.
    commands.ShowProgress(process.bErrTerminal && !options.bTrace && options.nQuiet < 2);
    // A backup without -o is the output itself: no header row before it.
    const bool bDocument = options.command == BusCommand::Backup && options.strOutput.empty();
    int code = commands.Run(!OutputHoldsData(out) && !bDocument);
    port.Close();
    if (pPublisher) {
        pPublisher->Finish();
        if (pPublisher->Failed()) {
            std::fprintf(err, "qd7-bus: mqtt: %s\n", pPublisher->Failure().c_str());
            code = kExitPublish;
        } else if (pPublisher->Incomplete() &&
                   (code == kExitOk || code == kExitNoAnswer || code == kExitInterrupted)) {
            // Readings refused, dropped or not sent: a script must not take the run for whole,
            // also when it ended the watch with a signal, the usual end of a watch.
            code = kExitPublish;
        }
    }
    return FinishOutput(out, err, writer.Error(), code);
}

} // namespace

int RunBusProgram(std::span<const std::string_view> args, FILE* out, FILE* err,
                  const std::atomic<bool>& stop, const BusProcess& process) {
    BusOptions options;
    std::string error;
    if (!ParseBusOptions(args, options, error)) {
        std::fprintf(err, "qd7-bus: %s\nTry 'qd7-bus --help' for more information.\n",
                     error.c_str());
        return kExitUsage;
    }
    // With -qq a command writes nothing to its output, and needs none.
    const bool bNeedsOutput = options.bHelp || options.bVersion ||
                              options.command == BusCommand::Ports || options.nQuiet < 2;
    const bool bNoOutput = process.bOutputClosed && bNeedsOutput;
    if (bNoOutput) {
        // Said at once, before a watch runs for hours into the null device; the run goes on,
        // since the bus may still be wanted (a watch that publishes), and ends as a failed output.
        std::fputs("qd7-bus: cannot write the output: the standard output is closed "
                   "(>/dev/null discards it)\n",
                   err);
        std::fflush(err);
    }
    const int code = RunParsed(options, out, err, stop, process);
    return bNoOutput ? kExitOutput : code;
}

int CloseBusOutput(FILE* out, FILE* err, int code) {
    // A write that failed before was judged when the program's output was done with (a reader
    // that went away, or a message): the Windows C library fails the close of such a stream again
    // without saying why.
    const bool bJudged = std::ferror(out) != 0;
    ClearOutputError();
    if (std::fclose(out) == 0 || code == kExitOutput || bJudged) {
        return code;
    }
    const int nError = FailedOutputError();
    if (nError == EPIPE) {
        return code;
    }
    std::fprintf(err, "qd7-bus: cannot write the output: %s\n", std::strerror(nError));
    return kExitOutput;
}
