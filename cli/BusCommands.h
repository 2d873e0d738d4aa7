#pragma once

#include <cstdio>
#include <optional>

#include "cli/BusExchange.h"
#include "cli/BusOptions.h"
#include "cli/BusStatistics.h"
#include "cli/ReadingFormat.h"
#include "cli/ReadingWriter.h"

// The exit codes of qd7-bus.
inline constexpr int kExitOk = 0;         // every meter addressed answered (scan: one at least)
inline constexpr int kExitNoAnswer = 1;   // a meter silent, or its reply corrupt or rejected
inline constexpr int kExitUsage = 2;      // the command line is wrong
inline constexpr int kExitPortFailed = 3; // the port cannot be opened, or its device went away
inline constexpr int kExitOutput = 4;  // the output cannot be written (a full disk, an I/O error)
inline constexpr int kExitPublish = 5; // the broker refused the login, or TLS failed

class CSerialPort;

// scan, read, watch and send over an exchange on an open port; each gives the exit code. A
// device that goes away ends scan, read and send with kExitPortFailed; watch says so, logs its
// rows as nodevice and opens the same device again each round until it is back.
class CBusCommands {
public:
    CBusCommands(const BusOptions& options, CSerialPort& port, CBusExchange& exchange,
                 CReadingWriter& writer, FILE* err);

    // Scan shows where it is on this line of a terminal (stderr, when it is one).
    void ShowProgress(bool bShow) { m_bProgress = bShow; }

    // bHeader: begin with the csv header row (in csv). Before it returns, a late reply that may
    // still come is given the time to be seen (CBusExchange::AwaitLateReplies).
    int Run(bool bHeader);

private:
    int Scan();
    int Read();
    int Watch();
    int Send();
    // RX for one register of one meter in the chosen bank, asked again up to --retries times
    // while it fails; nothing when a stop request came first.
    std::optional<Reading> Ask(int address, int registerIndex);
    // The addresses scan asks: the list given, else the range.
    std::vector<int> ScanAddresses() const;
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
    bool m_bProgress = false;
};
