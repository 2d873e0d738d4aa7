#include "cli/ReadingWriter.h"

#include "cli/OutputFile.h"

CReadingWriter::CReadingWriter(FILE* out, OutputFormat format, bool bTimeInText)
    : m_pOut(out), m_format(format), m_bTimeInText(bTimeInText) {}

bool CReadingWriter::Header() {
    return m_format != OutputFormat::Csv || m_nQuiet >= 2 || Put(CsvHeader(m_bWrites));
}

bool CReadingWriter::Write(const Reading& reading) {
    if (m_pPublisher != nullptr) {
        m_pPublisher->Publish(reading);
    }
    if (m_nQuiet >= 2 || (m_nQuiet == 1 && IsGoodRow(reading))) {
        return !Failed();
    }
    switch (m_format) {
    case OutputFormat::Csv:
        return Put(CsvRow(reading, m_bWrites));
    case OutputFormat::Json:
        return Put(JsonRow(reading, m_bWrites));
    case OutputFormat::Text:
        break;
    }
    return Put(TextRow(reading, m_bTimeInText));
}

bool CReadingWriter::WriteText(const std::string& lines) {
    return m_format != OutputFormat::Text || m_nQuiet >= 2 || Put(lines);
}

bool CReadingWriter::Put(const std::string& text) {
    if (Failed()) {
        return false;
    }
    // One call for the whole line, then out of the buffer at once: a full disk shows at the
    // flush, not at the write into the buffer.
    ClearOutputError();
    if (std::fwrite(text.data(), 1, text.size(), m_pOut) != text.size() ||
        std::fflush(m_pOut) != 0) {
        m_nError = FailedOutputError();
    }
    return !Failed();
}
