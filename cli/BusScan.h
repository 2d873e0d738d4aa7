#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <vector>

#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/BusStatistics.h"
#include "cli/ReadingFormat.h"
#include "cli/ReadingWriter.h"
#include "cli/ScanProgress.h"

// scan: every address (of the range or the list) is asked for P0 once, and those that failed are
// asked again in later rounds, one per --retries. A round does not wait for a silent address's
// reply window: it asks the next address, and a reply that comes late, within its window, still
// proves the meter there and lists it with its own value. A retry goes out only once the reply to
// the try before it can no longer come. The rows keep the order of the addresses asked: each is
// written once its address is settled (it answered, or its last try can no longer be answered),
// so a row may wait for the addresses before it.
class CBusScan {
public:
    CBusScan(const BusOptions& options, CBusExchange& exchange, CReadingWriter& writer,
             CBusStatistics& statistics, FILE* err, bool bProgress);

    // The exit code: kExitOk when a meter answered, kExitNoAnswer when none did (or the scan was
    // cut short), kExitPortFailed when the device went away.
    int Run();
    // A reply that came after its exchange had ended: within its window it answers its try.
    void OnLateReply(const LateReply& late);
    // Before another line goes to stderr: the progress line is taken away, and comes back with
    // the next address.
    void ClearProgress();

private:
    struct Entry {
        int address = 0;
        int tries = 0;                  // requests that went out
        std::optional<Reading> reading; // of the latest try, or of a late reply to it
        uint64_t nRequest = 0;          // the latest try's request
        bool bLate = false;             // answered late, within the reply window
    };

    bool Stopped() const;
    // Still failed (silent or corrupt, not answered late) with a try left.
    bool NeedsRetry(const Entry& entry) const;
    bool IsSettled(const Entry& entry) const;
    // Asks the entry's address once; false when a stop request came first.
    bool Ask(Entry& entry);
    // Writes the rows of the settled entries at the front; with bAll, of every entry asked.
    void Flush(bool bAll = false);
    void Write(const Entry& entry);

    const BusOptions& m_options;
    CBusExchange& m_exchange;
    CReadingWriter& m_writer;
    CBusStatistics& m_statistics;
    FILE* m_pErr;
    std::optional<CScanProgress> m_progress;
    std::vector<Entry> m_vecEntries;
    size_t m_nWritten = 0; // entries whose row (or the lack of one) is settled and written
    int m_nFound = 0;
};
