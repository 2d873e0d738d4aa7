#include "cli/BusProgram.h"

#include <string>

#include "cli/BusCommands.h"
#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/OutputFile.h"
#include "cli/ReadingWriter.h"
#include "cli/ReplyTimeout.h"
#include "serial/SerialPort.h"

int RunBusProgram(std::span<const std::string_view> args, FILE* out, FILE* err,
                  const std::atomic<bool>& stop) {
    BusOptions options;
    std::string error;
    if (!ParseBusOptions(args, options, error)) {
        std::fprintf(err, "qd7-bus: %s\nTry 'qd7-bus --help' for more information.\n",
                     error.c_str());
        return kExitUsage;
    }
    if (options.bHelp || options.bVersion) {
        const std::string text = options.bHelp ? BusUsage() : BusVersion();
        std::fputs(text.c_str(), out);
        return std::fflush(out) == 0 ? kExitOk : kExitNoAnswer;
    }

    CSerialPort port;
    const PortHandle handle =
        options.strDevicePath.empty()
            ? port.Open(options.nComPort, options.nSpeed, options.nDataBits, options.nParity,
                        options.nStopBits)
            : port.OpenPath(options.strDevicePath, options.nSpeed, options.nDataBits,
                            options.nParity, options.nStopBits);
    if (handle == kNullPortHandle) {
        std::fprintf(err, "qd7-bus: %s\n", port.FailureReason().c_str());
        return kExitPortFailed;
    }

    CBusExchange exchange(port, ReplyTimeout(options),
                          CharacterTime(LineSettings{options.nSpeed, options.nDataBits,
                                                     options.nParity, options.nStopBits}),
                          stop);
    // A log appended to already has its header; a watch in text shows when each reading was.
    CReadingWriter writer(out, options.format, options.command == BusCommand::Watch);
    CBusCommands commands(options, exchange, writer, err);
    const int code = commands.Run(!OutputHoldsData(out));
    port.Close();
    return code;
}
