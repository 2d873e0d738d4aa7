#include "cli/BusCommands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "cli/BusScan.h"
#include "cli/BusSetup.h"
#include "protocol/Address.h"
#include "protocol/CodeTables.h"
#include "protocol/FrameCodec.h"
#include "serial/PortAddress.h"
#include "serial/SerialPort.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Where a frame body holds the bank digit and the register code: after the address and the
// command, two characters each.
constexpr size_t kBodyBank = 4;
constexpr size_t kBodyRegister = 5;
// Where a reply holds its value field: after ACK, STX and the body's first seven characters.
constexpr size_t kReplyValueField = 9;
// While the device is gone, watch tries to open it again each round, but not more often than
// this: with --interval 0 the rounds would otherwise spin and log nodevice rows without pause.
constexpr std::chrono::milliseconds kMinReopenInterval{100};

// What a typed body asks for, as far as it says: its address (the parser let only a body with
// one through), and its bank and register when they are a digit and a known code.
ReplyExpectation ExpectationOf(const std::string& body) {
    ReplyExpectation expect;
    expect.address = ParseAddress(std::string_view(body).substr(0, 2)).value_or(0);
    if (std::isdigit(static_cast<unsigned char>(body[kBodyBank])) != 0) {
        expect.bank = body[kBodyBank] - '0';
    }
    const std::string_view code = std::string_view(body).substr(kBodyRegister, 2);
    const auto found = std::find(RegisterCodeTable.begin(), RegisterCodeTable.end(), code);
    if (found != RegisterCodeTable.end()) {
        expect.registerIndex = static_cast<int>(found - RegisterCodeTable.begin());
    }
    return expect;
}

// send in text: the request and the reply as on the wire, then what the reply says.
std::string SendText(const std::string& body, uint8_t crc, const Reading& reading) {
    std::string text = "request  " + body + "  " + FormatCrcText(crc) + '\n';
    text +=
        "reply    " + (reading.raw.empty() ? std::string("(none)") : FormatHex(reading.raw)) + '\n';
    if (reading.status == ReplyStatus::Ok) {
        text += "decoded  address " + FormatAddress(reading.address) + "  bank " +
                std::to_string(reading.bank) + "  register " + reading.registerCode + "  value " +
                FormatValue(reading.value, reading.decimals) + "  decimals " +
                std::to_string(reading.decimals) + '\n';
    }
    return text + "status   " + std::string(StatusName(reading.status)) + '\n';
}

} // namespace

bool IsRetried(ReplyStatus status) {
    return status == ReplyStatus::Silent || status == ReplyStatus::Corrupt;
}

Reading ReadingOf(const ExchangeResult& result, int address, int bank, std::string registerCode) {
    Reading reading;
    reading.time = result.time;
    reading.address = address;
    reading.bank = bank;
    reading.registerCode = std::move(registerCode);
    reading.status = result.status;
    reading.raw = result.raw;
    if (result.status == ReplyStatus::Ok) {
        reading.bank = result.reply.bank;
        reading.registerCode = RegisterCodeTable[static_cast<size_t>(result.reply.registerIndex)];
        reading.value = result.reply.value;
        reading.decimals = result.reply.decimals;
        if (result.raw.size() >= kMinResponseLength) {
            reading.field = ReadValueField(result.raw.data() + kReplyValueField);
        }
    }
    return reading;
}

CBusCommands::CBusCommands(const BusOptions& options, CSerialPort& port, CBusExchange& exchange,
                           CReadingWriter& writer, FILE* err)
    : m_options(options), m_port(port), m_exchange(exchange), m_writer(writer), m_pErr(err),
      m_lateNotes(err) {
    m_exchange.SetLateReplySink([this](const LateReply& late) { OnLateReply(late); });
}

CBusCommands::~CBusCommands() {
    m_exchange.SetLateReplySink({});
}

void CBusCommands::OnLateReply(const LateReply& late) {
    if (m_pScan != nullptr) {
        m_pScan->ClearProgress();
    }
    m_lateNotes.Note(late);
    if (m_pScan != nullptr) {
        m_pScan->OnLateReply(late);
    }
}

int CBusCommands::Run(bool bHeader) {
    if (bHeader && !m_writer.Header()) {
        return kExitNoAnswer; // the caller tells the output's failure apart
    }
    int code = kExitUsage;
    switch (m_options.command) {
    case BusCommand::Scan:
        code = Scan();
        break;
    case BusCommand::Read:
        code = Read();
        break;
    case BusCommand::Watch:
        code = Watch();
        break;
    case BusCommand::Send:
        code = Send();
        break;
    case BusCommand::Write:
    case BusCommand::Backup:
    case BusCommand::Restore:
        code = Setup();
        break;
    case BusCommand::Ports: // listed before any port is opened
    case BusCommand::None:
        break;
    }
    if (m_exchange.StopRequested()) {
        code = kExitInterrupted;
    }
    // A meter that missed its timeout at the end of the run may still answer: it should not go
    // unremarked only because nothing else was asked after it.
    if (m_port.IsOpen() && !Stopped()) {
        m_exchange.AwaitLateReplies();
    }
    // A watch ends with what the bus did; the other commands when asked.
    if ((m_options.command == BusCommand::Watch || m_options.bStats) && m_options.nQuiet < 2) {
        m_statistics.Print(m_pErr);
    }
    return code;
}

void CBusCommands::NoteGone() {
    if (m_bGoneSaid) {
        return;
    }
    m_bGoneSaid = true;
    const char* pszNext =
        m_options.command == BusCommand::Watch ? "; watch opens it again when it is back" : "";
    std::fprintf(m_pErr, "qd7-bus: %s: the device has gone away%s\n", m_port.OpenedPath().c_str(),
                 pszNext);
    // A link of the user's own, a pseudo-terminal or a device server's address may lead to
    // another bus by then: once per run, so that readings from then on are not taken on trust.
    if (m_options.command == BusCommand::Watch && !m_port.HasStableIdentity() && !m_bIdentitySaid) {
        m_bIdentitySaid = true;
        const std::string& name = m_port.ReopenPath();
        std::fprintf(m_pErr, "qd7-bus: %s has no stable identity: %s\n", name.c_str(),
                     IsNetworkPort(name) ? "watch connects to this address again, whatever "
                                           "answers there then"
                                         : "watch opens it again by this name, whatever device "
                                           "that names then");
    }
    std::fflush(m_pErr);
}

bool CBusCommands::TryReopen() {
    if (m_port.Reopen() == kNullPortHandle) {
        return false;
    }
    // The queues are new: nothing asked before the loss can answer now.
    m_exchange.Reset();
    m_bGoneSaid = false;
    std::fprintf(m_pErr, "qd7-bus: %s: the device is back\n", m_port.OpenedPath().c_str());
    std::fflush(m_pErr);
    return true;
}

bool CBusCommands::Stopped() const {
    return m_exchange.StopRequested() || m_writer.Failed() || m_writer.PublishFailed();
}

std::optional<Reading> AskRegister(CBusExchange& exchange, CBusStatistics& statistics, int address,
                                   int bank, int registerIndex, int nRetries,
                                   const std::function<bool()>& stopped) {
    FrameBuffer frame{};
    if (!BuildRequestFrame(frame, address, kCommandRead, bank, registerIndex, 0.0)) {
        return std::nullopt; // the parser lets no such argument through
    }
    const ReplyExpectation expect{address, bank, registerIndex};
    ExchangeResult result;
    int tries = 0;
    do {
        if (tries > 0 && stopped()) {
            return std::nullopt;
        }
        // A retry waits until the try before can no longer be answered (CBusExchange::Run).
        result = exchange.Run(frame, expect);
        if (result.bStopped) {
            return std::nullopt;
        }
        statistics.Count(address, result.status, result.elapsed);
        // A gone device asked nothing.
        tries += result.status == ReplyStatus::NoDevice ? 0 : 1;
    } while (IsRetried(result.status) && tries <= nRetries);
    Reading reading = ReadingOf(result, address, bank,
                                std::string(RegisterCodeTable[static_cast<size_t>(registerIndex)]));
    reading.tries = tries;
    return reading;
}

std::optional<Reading> CBusCommands::Ask(int address, int registerIndex) {
    return AskRegister(m_exchange, m_statistics, address, m_options.nBank, registerIndex,
                       m_options.nRetries, [this] { return Stopped(); });
}

int CBusCommands::Scan() {
    CBusScan scan(m_options, m_exchange, m_writer, m_statistics, m_pErr, m_bProgress);
    m_pScan = &scan;
    const int code = scan.Run();
    m_pScan = nullptr;
    if (code == kExitPortFailed) {
        NoteGone();
    }
    return code;
}

int CBusCommands::Read() {
    std::vector<int> registers = m_options.registers;
    if (registers.empty()) {
        for (int i = 0; i < kRegisterCount; ++i) {
            registers.push_back(i);
        }
    }
    bool bAllAnswered = true;
    for (const int address : m_options.addresses) {
        for (const int registerIndex : registers) {
            const std::optional<Reading> reading =
                Stopped() ? std::nullopt : Ask(address, registerIndex);
            if (!reading) {
                return kExitNoAnswer; // cut short: not every register was answered
            }
            bAllAnswered = bAllAnswered && reading->status == ReplyStatus::Ok;
            m_writer.Write(*reading);
            if (reading->status == ReplyStatus::NoDevice) {
                NoteGone();
                return kExitPortFailed;
            }
        }
    }
    return bAllAnswered ? kExitOk : kExitNoAnswer;
}

// Rounds on a steady cadence: a round starts `interval` after the one before, or at once when
// that one took longer. Ending it (--count, a signal, a closed output) is the normal way out:
// the exit code tells whether every reading so far was answered, and kExitPortFailed when the
// device is gone at the end. A device that goes away is opened again at the start of each round
// until it is back; the rounds meanwhile log their rows as nodevice.
int CBusCommands::Watch() {
    bool bAllAnswered = true;
    auto tNext = SteadyClock::now();
    for (int64_t nRound = 0; m_options.nCount == 0 || nRound < m_options.nCount; ++nRound) {
        if (nRound > 0) {
            if (m_writer.Failed()) {
                break;
            }
            const auto interval =
                m_port.IsOpen()
                    ? m_options.interval
                    : std::max<std::chrono::milliseconds>(m_options.interval, kMinReopenInterval);
            tNext = std::max(tNext + interval, SteadyClock::now());
            if (!m_exchange.SleepUntil(tNext)) {
                break;
            }
        }
        if (!m_port.IsOpen()) {
            NoteGone(); // the wait between rounds may be what noticed it
            TryReopen();
        }
        for (const int address : m_options.addresses) {
            const std::optional<Reading> reading =
                Stopped() ? std::nullopt : Ask(address, kRegisterProcessValue);
            if (!reading) {
                return bAllAnswered ? kExitOk : kExitNoAnswer;
            }
            bAllAnswered = bAllAnswered && reading->status == ReplyStatus::Ok;
            m_writer.Write(*reading);
            if (reading->status == ReplyStatus::NoDevice) {
                NoteGone();
            }
        }
    }
    if (!m_port.IsOpen()) {
        return kExitPortFailed;
    }
    return bAllAnswered ? kExitOk : kExitNoAnswer;
}

int CBusCommands::Send() {
    const std::string& body = m_options.strBody;
    FrameBuffer frame{};
    const uint8_t crc = BuildTextFrame(frame, body);
    const ReplyExpectation expect = ExpectationOf(body);
    const ExchangeResult result = m_exchange.Run(frame, expect);
    if (result.bStopped) {
        return kExitNoAnswer;
    }
    m_statistics.Count(expect.address, result.status, result.elapsed);
    Reading reading = ReadingOf(result, expect.address, expect.bank, body.substr(kBodyRegister, 2));
    reading.tries = reading.status == ReplyStatus::NoDevice ? 0 : 1;
    if (m_options.nQuiet == 1 && reading.status == ReplyStatus::Ok) {
        // -q: only a failure is shown.
    } else if (m_writer.Format() == OutputFormat::Text) {
        m_writer.WriteText(SendText(body, crc, reading));
    } else {
        m_writer.Write(reading);
    }
    if (reading.status == ReplyStatus::NoDevice) {
        NoteGone();
        return kExitPortFailed;
    }
    return reading.status == ReplyStatus::Ok ? kExitOk : kExitNoAnswer;
}

int CBusCommands::Setup() {
    CBusSetup setup(m_options, m_exchange, m_writer, m_statistics, m_pErr);
    int code = kExitUsage;
    if (m_options.command == BusCommand::Write) {
        code = setup.Write();
    } else if (m_options.command == BusCommand::Backup) {
        code = setup.Backup(m_port.OpenedPath());
    } else if (m_pBackup != nullptr) {
        code = setup.Restore(*m_pBackup);
    }
    if (code == kExitPortFailed) {
        NoteGone();
    }
    return code;
}
