#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>

#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/BusStatistics.h"
#include "cli/LateReplyNotes.h"
#include "cli/ReadingFormat.h"
#include "cli/ReadingWriter.h"

// The exit codes of qd7-bus.
inline constexpr int kExitOk = 0;         // every meter addressed answered (scan: one at least)
inline constexpr int kExitNoAnswer = 1;   // a meter silent, or its reply corrupt or rejected
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitPortFailed = 3; // the port cannot be opened, or its device went away
inline constexpr int kExitOutput = 4;  // the output cannot be written (a full disk, an I/O error)
inline constexpr int kExitPublish = 5; // readings not all published: refused, dropped, unsent
inline constexpr int kExitInterrupted = 130; // a signal (Ctrl+C) ended the command

class CSerialPort;
struct BackupDocument;
class CBusScan;

// Worth asking again: nothing came, or it came damaged. A meter that rejects the request (a
// good frame, but not the reply asked for) will reject it again, and a gone device is not back
// by asking.
bool IsRetried(ReplyStatus status);
// The row of an exchange: what was asked, and what the reply said when it was the one asked for.
Reading ReadingOf(const ExchangeResult& result, int address, int bank, std::string registerCode);
// RX for one register of one meter in `bank`, asked again up to `nRetries` times while it fails;
// nothing when a stop request came first, or `stopped` holds before a retry. Every exchange
// counts in the statistics.
std::optional<Reading> AskRegister(CBusExchange& exchange, CBusStatistics& statistics, int address,
                                   int bank, int registerIndex, int nRetries,
                                   const std::function<bool()>& stopped);

// Worth asking again: nothing came, or it came damaged. A meter that rejects the request (a
// good frame, but not the reply asked for) will reject it again, and a gone device is not back
// by asking.
bool IsRetried(ReplyStatus status);
// The row of an exchange: what was asked, and what the reply said when it was the one asked for.
Reading ReadingOf(const ExchangeResult& result, int address, int bank, std::string registerCode);
// RX for one register of one meter in `bank`, asked again up to `nRetries` times while it fails;
// nothing when a stop request came first, or `stopped` holds before a retry. Every exchange
// counts in the statistics.
std::optional<Reading> AskRegister(CBusExchange& exchange, CBusStatistics& statistics, int address,
                                   int bank, int registerIndex, int nRetries,
                                   const std::function<bool()>& stopped);

// The commands over an exchange on an open port; each gives the exit code. A
// device that goes away ends scan, read and send with kExitPortFailed; watch says so, logs its
// rows as nodevice and opens the same device again each round until it is back. A late reply is
// said on stderr; in a scan it also lists its meter.
class CBusCommands {
public:
    CBusCommands(const BusOptions& options, CSerialPort& port, CBusExchange& exchange,
                 CReadingWriter& writer, FILE* err);
    ~CBusCommands();
    CBusCommands(const CBusCommands&) = delete;
    CBusCommands& operator=(const CBusCommands&) = delete;

    // Scan shows where it is on this line of a terminal (stderr, when it is one).
    void ShowProgress(bool bShow) { m_bProgress = bShow; }
    // restore: the backup, read and checked before the port was opened.
    void SetBackup(const BackupDocument* pBackup) { m_pBackup = pBackup; }

    // bHeader: begin with the csv header row (in csv). Before it returns, a late reply that may
    // still come is given the time to be seen (CBusExchange::AwaitLateReplies). A command that a
    // stop request cut short gives kExitInterrupted.
    int Run(bool bHeader);

private:
    int Scan();
    int Read();
    int Watch();
    int Send();
    // write, backup and restore (CBusSetup).
    int Setup();
    // RX for one register of one meter in the chosen bank, asked again up to --retries times
    // while it fails; nothing when a stop request came first.
    std::optional<Reading> Ask(int address, int registerIndex);
    void OnLateReply(const LateReply& late);
    bool Stopped() const;
    // The device went away: said once, until it is back.
    void NoteGone();
    // Opens the lost device again; true (and said) when it is back.
    bool TryReopen();

    const BusOptions& m_options;
    CSerialPort& m_port;
    CBusExchange& m_exchange;
    bool m_bGoneSaid = false;
    bool m_bIdentitySaid = false; // that the device's name may lead elsewhere when it is back
    CReadingWriter& m_writer;
    FILE* m_pErr;
    CBusStatistics m_statistics;
    CLateReplyNotes m_lateNotes;
    CBusScan* m_pScan = nullptr; // while a scan runs
    bool m_bProgress = false;
    const BackupDocument* m_pBackup = nullptr;
};
