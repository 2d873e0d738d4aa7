#pragma once

#include <cstdio>
#include <string>

#include "cli/BusOptions.h"
#include "cli/ReadingFormat.h"
#include "cli/RowPublisher.h"

// Writes readings in the chosen format, each line flushed at once so that a log behind a pipe or
// a redirection is whole up to its last reading. Once a write fails (a closed pipe, a full disk)
// every later one is refused, and the commands stop.
class CReadingWriter {
public:
    CReadingWriter(FILE* out, OutputFormat format, bool bTimeInText);

    // The csv header row, in csv only.
    bool Header();
    bool Write(const Reading& reading);
    // Lines written as they are, in every format (the port list).
    bool WriteLine(const std::string& line) { return Put(line); }
    // Lines for people, in text only (send's request and reply).
    bool WriteText(const std::string& lines);

    OutputFormat Format() const { return m_format; }
    // -q: only the rows that are not ok (IsGoodRow) are written; -qq: none, and no header (the
    // exit code alone). A row left out counts as written.
    void SetQuiet(int nQuiet) { m_nQuiet = nQuiet; }
    // The rows of write and restore, whose csv and json say what was wanted and held before.
    void SetWriteColumns(bool bWrites) { m_bWrites = bWrites; }
    // Every reading goes to the publisher as well, -q or not (watch --publish).
    void SetPublisher(IRowPublisher* pPublisher) { m_pPublisher = pPublisher; }
    bool PublishFailed() const { return m_pPublisher != nullptr && m_pPublisher->Failed(); }
    bool Failed() const { return m_nError != 0; }
    // The error number of the failed write (EPIPE: the reader went away); 0 while none failed.
    int Error() const { return m_nError; }

private:
    bool Put(const std::string& text);

    FILE* m_pOut;
    OutputFormat m_format;
    bool m_bTimeInText;
    int m_nError = 0;
    int m_nQuiet = 0;
    bool m_bWrites = false;
    IRowPublisher* m_pPublisher = nullptr;
};
