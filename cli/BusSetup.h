#pragma once

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/BackupDocument.h"
#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/BusStatistics.h"
#include "cli/ReadingFormat.h"
#include "cli/ReadingWriter.h"

// write, backup and restore: setting meters up, over an exchange on an open port. Each gives the
// exit code.
//
// A write is the WX frame with the value, then the register read back with RX: the row is the
// read-back's, written when it holds the value, not-taken (with the value it holds) when it does
// not. Whatever the meter answers to the WX frame is its word only, shown in the trace; meters
// answer it differently or not at all. The exchange keeps the read-back from going out while the
// meter's answer to the write may still come, so a late answer is never taken for the read-back.
class CBusSetup {
public:
    CBusSetup(const BusOptions& options, CBusExchange& exchange, CReadingWriter& writer,
              CBusStatistics& statistics, FILE* err);

    // The values given to the meters given; kExitOk when every register reads back what was
    // written.
    int Write();
    // The ten settings registers of both banks into one document, to the -o file (the rows to the
    // output) or to the output; nothing is written unless all twenty were read. `port` names the
    // port in the document.
    int Backup(const std::string& port);
    // The backup to the meter of --to: every register read first; those that differ (or could
    // not be read) written and read back; the rows say what each held before. With --dry-run the
    // registers that differ are shown and nothing is written. kExitOk when the meter holds the
    // whole backup (dry run: when every register could be read).
    int Restore(const BackupDocument& backup);

private:
    // RX for one register, asked again up to --retries times while it fails; nothing when a stop
    // request came first.
    std::optional<Reading> Read(int address, int bank, int registerIndex);
    // WX with the value, then the read-back; nothing when a stop request came first.
    std::optional<Reading> WriteAndReadBack(int address, int bank, int registerIndex,
                                            const ValueField& value);
    bool Stopped() const;

    const BusOptions& m_options;
    CBusExchange& m_exchange;
    CReadingWriter& m_writer;
    CBusStatistics& m_statistics;
    FILE* m_pErr;
};

// write --dry-run: the frames that would go out, in order, each with its CRC and its 35 bytes;
// nothing is sent and no port is opened.
int DryRunWrite(const BusOptions& options, CReadingWriter& writer, FILE* err);
