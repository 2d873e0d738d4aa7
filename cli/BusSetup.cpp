#include "cli/BusSetup.h"

#include <string>

#include "cli/BackupFile.h"
#include "cli/BusCommands.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/FrameCodec.h"

namespace {

std::string RegisterCode(int registerIndex) {
    return std::string(RegisterCodeTable[static_cast<size_t>(registerIndex)]);
}

// "07WX0C1+0012341  ETX,5B  02 30 37 57 ... FF": a frame as dry runs show it.
std::string FrameLine(std::string_view what, const FrameBuffer& frame, uint8_t crc) {
    return std::string(what) + "  " + FrameBody(frame) + "  " + FormatCrcText(crc) + "  " +
           FormatHex(std::vector<uint8_t>(frame.begin(), frame.begin() + kWireFrameLength)) + '\n';
}

} // namespace

CBusSetup::CBusSetup(const BusOptions& options, CBusExchange& exchange, CReadingWriter& writer,
                     CBusStatistics& statistics, FILE* err)
    : m_options(options), m_exchange(exchange), m_writer(writer), m_statistics(statistics),
      m_pErr(err) {}

bool CBusSetup::Stopped() const {
    return m_exchange.StopRequested() || m_writer.Failed() || m_writer.PublishFailed();
}

std::optional<Reading> CBusSetup::Read(int address, int bank, int registerIndex) {
    if (Stopped()) {
        return std::nullopt;
    }
    return AskRegister(m_exchange, m_statistics, address, bank, registerIndex, m_options.nRetries,
                       [this] { return Stopped(); });
}

std::optional<Reading> CBusSetup::WriteAndReadBack(int address, int bank, int registerIndex,
                                                   const ValueField& value) {
    FrameBuffer frame{};
    if (Stopped() || !BuildValueFrame(frame, address, kCommandWrite, bank, registerIndex, value)) {
        return std::nullopt;
    }
    // The meter's answer to the write, if any, is seen in the trace and decides nothing. Were it
    // late, the exchange would hold the read-back until it has come or can no longer come.
    ReplyExpectation expect{address, bank, registerIndex};
    expect.bWrite = true;
    const ExchangeResult written = m_exchange.Run(frame, expect);
    if (written.bStopped) {
        return std::nullopt;
    }
    m_statistics.Count(address, written.status, written.elapsed);
    std::optional<Reading> reading;
    if (written.status == ReplyStatus::NoDevice) {
        reading = ReadingOf(written, address, bank, RegisterCode(registerIndex));
    } else {
        reading = Read(address, bank, registerIndex);
        if (!reading) {
            return std::nullopt;
        }
        reading->bWriteSent = true;
        reading->time = written.time;
    }
    reading->wanted = value;
    return reading;
}

int CBusSetup::Write() {
    bool bAllWritten = true;
    for (const int address : m_options.addresses) {
        for (const RegisterWrite& write : m_options.writes) {
            const std::optional<Reading> reading =
                WriteAndReadBack(address, m_options.nBank, write.registerIndex, write.value);
            if (!reading) {
                return kExitNoAnswer; // cut short: not every register was written
            }
            bAllWritten = bAllWritten && IsGoodRow(*reading);
            m_writer.Write(*reading);
            if (reading->status == ReplyStatus::NoDevice) {
                return kExitPortFailed;
            }
        }
    }
    return bAllWritten ? kExitOk : kExitNoAnswer;
}

int CBusSetup::Backup(const std::string& port) {
    BackupDocument document;
    document.address = m_options.nTarget;
    document.program = BusVersion();
    if (!document.program.empty() && document.program.back() == '\n') {
        document.program.pop_back();
    }
    document.port = port;
    std::string failed; // what could not be read, for the message
    const bool bRows = !m_options.strOutput.empty();
    for (int bank = 0; bank < kBackupBanks; ++bank) {
        for (int reg = 1; reg <= kBackupRegistersPerBank; ++reg) {
            const std::optional<Reading> reading = Read(document.address, bank, reg);
            if (!reading) {
                return kExitNoAnswer;
            }
            if (bRows) {
                m_writer.Write(*reading);
            }
            if (reading->status == ReplyStatus::NoDevice) {
                return kExitPortFailed;
            }
            if (document.time.empty()) {
                document.time = FormatIsoTime(reading->time);
            }
            if (reading->status == ReplyStatus::Ok && reading->field) {
                document.registers.push_back(
                    BackupRegister{bank, reg, *reading->field, FormatHex(reading->raw)});
                continue;
            }
            const std::string why = reading->status == ReplyStatus::Ok
                                        ? "its value's digits are no digits"
                                        : std::string(StatusName(reading->status));
            failed += (failed.empty() ? "" : ", ") + RegisterCode(reg) + " of bank " +
                      std::to_string(bank) + " " + why;
        }
    }
    if (!failed.empty()) {
        std::fprintf(m_pErr, "qd7-bus: %s: no backup written, not every register was read: %s\n",
                     FormatAddress(document.address).c_str(), failed.c_str());
        return kExitNoAnswer;
    }
    const std::string text = FormatBackup(document);
    if (!bRows) {
        m_writer.WriteLine(text);
        return kExitOk; // a failed output is the caller's to tell
    }
    if (std::string error; !WriteWholeFile(m_options.strOutput, text, error)) {
        std::fprintf(m_pErr, "qd7-bus: %s: cannot write the backup: %s\n",
                     m_options.strOutput.c_str(), error.c_str());
        return kExitOutput;
    }
    return kExitOk;
}

int CBusSetup::Restore(const BackupDocument& backup) {
    const int address = m_options.nTarget;
    int nDiffering = 0;
    int nUnread = 0; // dry run: registers that could not be read
    int nFailed = 0; // registers that do not hold the backup's value at the end
    for (const BackupRegister& want : backup.registers) {
        std::optional<Reading> reading = Read(address, want.bank, want.registerIndex);
        if (!reading) {
            return kExitNoAnswer;
        }
        if (reading->status == ReplyStatus::NoDevice) {
            m_writer.Write(*reading);
            return kExitPortFailed;
        }
        reading->wanted = want.value;
        const bool bRead = reading->status == ReplyStatus::Ok && reading->field;
        // A meter shows 123.40 otherwise than 123.4: places that differ are written as well.
        if (bRead && reading->field->SameValueAndPlaces(want.value)) {
            if (!m_options.bDryRun) {
                m_writer.Write(*reading); // holds it already: nothing is written
            }
            continue;
        }
        ++nDiffering;
        if (m_options.bDryRun) {
            nUnread += bRead ? 0 : 1;
            m_writer.Write(*reading);
            continue;
        }
        const std::optional<ValueField> before =
            bRead ? reading->field : std::optional<ValueField>();
        reading = WriteAndReadBack(address, want.bank, want.registerIndex, want.value);
        if (!reading) {
            return kExitNoAnswer;
        }
        reading->before = before;
        nFailed += IsGoodRow(*reading) ? 0 : 1;
        m_writer.Write(*reading);
        if (reading->status == ReplyStatus::NoDevice) {
            return kExitPortFailed;
        }
    }
    if (m_options.nQuiet < 2) {
        std::string text = FormatAddress(address) + ": " + std::to_string(nDiffering) + " of " +
                           std::to_string(backup.registers.size()) + " registers " +
                           (m_options.bDryRun ? "differ" : "differed") + " from the backup of " +
                           FormatAddress(backup.address);
        if (m_options.bDryRun) {
            text += (nUnread > 0 ? " (" + std::to_string(nUnread) + " could not be read)" : "") +
                    "; nothing was written (--dry-run)";
        } else {
            text += "; " + std::to_string(nDiffering - nFailed) + " written and read back";
            text += nFailed > 0 ? ", " + std::to_string(nFailed) + " not" : "";
        }
        std::fprintf(m_pErr, "qd7-bus: %s\n", text.c_str());
    }
    if (m_options.bDryRun) {
        return nUnread == 0 ? kExitOk : kExitNoAnswer;
    }
    return nFailed == 0 ? kExitOk : kExitNoAnswer;
}

int DryRunWrite(const BusOptions& options, CReadingWriter& writer, FILE* err) {
    for (const int address : options.addresses) {
        for (const RegisterWrite& write : options.writes) {
            FrameBuffer frame{};
            const std::optional<uint8_t> wx = BuildValueFrame(
                frame, address, kCommandWrite, options.nBank, write.registerIndex, write.value);
            if (!wx) {
                return kExitUsage; // the parser lets no such argument through
            }
            writer.WriteLine(FrameLine("write", frame, *wx));
            const std::optional<uint8_t> rx = BuildRequestFrame(
                frame, address, kCommandRead, options.nBank, write.registerIndex, 0.0);
            writer.WriteLine(FrameLine("read ", frame, rx.value_or(0)));
        }
    }
    if (options.nQuiet < 2) {
        std::fputs("qd7-bus: a dry run: nothing was sent\n", err);
    }
    return kExitOk;
}
