#pragma once

#include <cstdio>
#include <optional>

#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/ReadingFormat.h"
#include "cli/ReadingWriter.h"

// The exit codes of qd7-bus.
inline constexpr int kExitOk = 0;         // every meter addressed answered (scan: one at least)
inline constexpr int kExitNoAnswer = 1;   // a meter silent, or its reply corrupt or rejected
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitPortFailed = 3; // the port cannot be opened

// scan, read, watch and send over an exchange on an open port; each gives the exit code.
class CBusCommands {
public:
    CBusCommands(const BusOptions& options, CBusExchange& exchange, CReadingWriter& writer,
                 FILE* err);

    // bHeader: begin with the csv header row (in csv).
    int Run(bool bHeader);

private:
    int Scan();
    int Read();
    int Watch();
    int Send();
    // RX for one register of one meter in the chosen bank; nothing when a stop request came first.
    std::optional<Reading> Ask(int address, int registerIndex);
    bool Stopped() const;

    const BusOptions& m_options;
    CBusExchange& m_exchange;
    CReadingWriter& m_writer;
    FILE* m_pErr;
};
