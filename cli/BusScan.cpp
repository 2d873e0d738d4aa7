#include "cli/BusScan.h"

#include <string>

#include "cli/BusCommands.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"

CBusScan::CBusScan(const BusOptions& options, CBusExchange& exchange, CReadingWriter& writer,
                   CBusStatistics& statistics, FILE* err, bool bProgress)
    : m_options(options), m_exchange(exchange), m_writer(writer), m_statistics(statistics),
      m_pErr(err) {
    if (bProgress) {
        m_progress.emplace(err);
    }
    std::vector<int> addresses = options.addresses;
    if (addresses.empty()) {
        for (int address = options.nFrom; address <= options.nTo; ++address) {
            addresses.push_back(address);
        }
    }
    for (const int address : addresses) {
        Entry entry;
        entry.address = address;
        m_vecEntries.push_back(entry);
    }
}

bool CBusScan::Stopped() const {
    return m_exchange.StopRequested() || m_writer.Failed() || m_writer.PublishFailed();
}

bool CBusScan::NeedsRetry(const Entry& entry) const {
    return entry.reading && !entry.bLate && IsRetried(entry.reading->status) &&
           entry.tries <= m_options.nRetries;
}

bool CBusScan::IsSettled(const Entry& entry) const {
    if (!entry.reading) {
        return false;
    }
    if (entry.bLate || !IsRetried(entry.reading->status)) {
        return true; // answered (or rejected, or the device gone)
    }
    return !NeedsRetry(entry) && !m_exchange.AwaitsReplyTo(entry.nRequest);
}

int CBusScan::Run() {
    const auto total = static_cast<int>(m_vecEntries.size());
    for (int round = 0; round <= m_options.nRetries && !Stopped(); ++round) {
        for (size_t i = 0; i < m_vecEntries.size() && !Stopped(); ++i) {
            Entry& entry = m_vecEntries[i];
            if (round > 0) {
                if (!NeedsRetry(entry)) {
                    continue;
                }
                // The try before may still be answered: then the meter is there, and no retry.
                if (!m_exchange.AwaitReply(entry.address)) {
                    break;
                }
                Flush();
                if (!NeedsRetry(entry)) {
                    continue;
                }
            }
            if (m_progress) {
                m_progress->Show(entry.address, static_cast<int>(i) + 1, total);
            }
            if (!Ask(entry)) {
                break;
            }
            if (entry.reading->status == ReplyStatus::NoDevice) {
                Flush(true);
                return kExitPortFailed;
            }
            Flush();
        }
    }
    // The last addresses' replies may still come, and settle the rows before them.
    if (!Stopped()) {
        m_exchange.AwaitLateReplies();
    }
    Flush(true);
    m_progress.reset();
    if (m_nFound == 0 && !Stopped()) {
        const std::string where =
            m_options.addresses.empty()
                ? FormatAddress(m_options.nFrom) + ".." + FormatAddress(m_options.nTo)
                : std::string("the addresses given");
        std::fprintf(m_pErr, "qd7-bus: no meter answered at %s\n", where.c_str());
    }
    return m_nFound > 0 ? kExitOk : kExitNoAnswer;
}

bool CBusScan::Ask(Entry& entry) {
    FrameBuffer frame{};
    if (!BuildRequestFrame(frame, entry.address, kCommandRead, m_options.nBank,
                           kRegisterProcessValue, 0.0)) {
        return false; // the parser lets no such address through
    }
    const ExchangeResult result = m_exchange.Run(
        frame, ReplyExpectation{entry.address, m_options.nBank, kRegisterProcessValue});
    if (result.bStopped) {
        return false;
    }
    m_statistics.Count(entry.address, result.status, result.elapsed);
    if (result.status != ReplyStatus::NoDevice) {
        ++entry.tries;
        entry.nRequest = result.nRequest;
    }
    entry.reading = ReadingOf(result, entry.address, m_options.nBank,
                              std::string(RegisterCodeTable[kRegisterProcessValue]));
    entry.reading->tries = entry.tries;
    if (m_progress && result.status == ReplyStatus::Ok) {
        m_progress->Found(entry.address); // shown at once, though its row may wait
    }
    return true;
}

void CBusScan::OnLateReply(const LateReply& late) {
    if (late.bBeyondWindow) {
        return; // outside the protocol: said, but it settles nothing
    }
    for (size_t i = m_nWritten; i < m_vecEntries.size(); ++i) {
        Entry& entry = m_vecEntries[i];
        if (entry.nRequest != late.nRequest || !entry.reading || entry.bLate) {
            continue;
        }
        m_statistics.CountLate(entry.address, entry.reading->status,
                               std::chrono::duration_cast<std::chrono::microseconds>(late.delay));
        Reading& reading = *entry.reading;
        reading.status = ReplyStatus::Ok;
        reading.bank = late.reply.bank;
        reading.registerCode = RegisterCodeTable[static_cast<size_t>(late.reply.registerIndex)];
        reading.value = late.reply.value;
        reading.decimals = late.reply.decimals;
        reading.raw = late.raw;
        entry.bLate = true;
        if (m_progress) {
            m_progress->Found(entry.address);
        }
        return;
    }
}

void CBusScan::ClearProgress() {
    if (m_progress) {
        m_progress->Clear();
    }
}

void CBusScan::Flush(bool bAll) {
    while (m_nWritten < m_vecEntries.size()) {
        const Entry& entry = m_vecEntries[m_nWritten];
        if (!(bAll && entry.reading) && !IsSettled(entry)) {
            return;
        }
        Write(entry);
        ++m_nWritten;
    }
}

void CBusScan::Write(const Entry& entry) {
    if (!entry.reading || entry.reading->status == ReplyStatus::Silent) {
        return; // a scan lists only where something answered
    }
    if (entry.reading->status == ReplyStatus::Ok) {
        ++m_nFound;
    }
    if (m_progress) {
        m_progress->Clear(); // the row on a clean line, then the progress again below it
    }
    m_writer.Write(*entry.reading);
}
