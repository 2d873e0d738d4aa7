#include "cli/BusCommands.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <string>
#include <string_view>
#include <utility>

#include "protocol/CodeTables.h"
#include "protocol/FrameCodec.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

// Where a frame body holds the bank digit and the register code: after the address and the
// command, two characters each.
constexpr size_t kBodyBank = 4;
constexpr size_t kBodyRegister = 5;

Reading MakeReading(const ExchangeResult& result, int address, int bank, std::string registerCode) {
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
    }
    return reading;
}

// What a typed body asks for, as far as it says: its address, and its bank and register when
// they are a digit and a known code.
ReplyExpectation ExpectationOf(const std::string& body) {
    ReplyExpectation expect;
    expect.address = 10 * (body[0] - '0') + (body[1] - '0');
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

CBusCommands::CBusCommands(const BusOptions& options, CBusExchange& exchange,
                           CReadingWriter& writer, FILE* err)
    : m_options(options), m_exchange(exchange), m_writer(writer), m_pErr(err) {}

int CBusCommands::Run(bool bHeader) {
    if (bHeader && !m_writer.Header()) {
        return kExitNoAnswer;
    }
    switch (m_options.command) {
    case BusCommand::Scan:
        return Scan();
    case BusCommand::Read:
        return Read();
    case BusCommand::Watch:
        return Watch();
    case BusCommand::Send:
        return Send();
    case BusCommand::None:
        break;
    }
    return kExitUsage;
}

bool CBusCommands::Stopped() const {
    return m_exchange.StopRequested() || m_writer.Failed();
}

std::optional<Reading> CBusCommands::Ask(int address, int registerIndex) {
    FrameBuffer frame{};
    if (!BuildRequestFrame(frame, address, kCommandRead, m_options.nBank, registerIndex, 0.0)) {
        return std::nullopt; // the parser lets no such argument through
    }
    const ExchangeResult result =
        m_exchange.Run(frame, ReplyExpectation{address, m_options.nBank, registerIndex});
    if (result.bStopped) {
        return std::nullopt;
    }
    return MakeReading(result, address, m_options.nBank,
                       std::string(RegisterCodeTable[static_cast<size_t>(registerIndex)]));
}

// Every address in the range once; the rows are the addresses where something answered.
int CBusCommands::Scan() {
    int nFound = 0;
    for (int address = m_options.nFrom; address <= m_options.nTo && !Stopped(); ++address) {
        const std::optional<Reading> reading = Ask(address, kRegisterProcessValue);
        if (!reading || reading->status == ReplyStatus::Silent) {
            continue;
        }
        nFound += reading->status == ReplyStatus::Ok ? 1 : 0;
        m_writer.Write(*reading);
    }
    if (nFound == 0 && !Stopped()) {
        std::fprintf(m_pErr, "qd7-bus: no meter answered at %s..%s\n",
                     FormatAddress(m_options.nFrom).c_str(), FormatAddress(m_options.nTo).c_str());
    }
    return nFound > 0 ? kExitOk : kExitNoAnswer;
}

int CBusCommands::Read() {
    std::vector<int> registers = m_options.registers;
    if (registers.empty()) {
        for (int i = 0; i < kRegisterCount; ++i) {
            registers.push_back(i);
        }
    }
    const int address = m_options.addresses.front();
    bool bAllAnswered = true;
    for (const int registerIndex : registers) {
        const std::optional<Reading> reading =
            Stopped() ? std::nullopt : Ask(address, registerIndex);
        if (!reading) {
            return kExitNoAnswer; // cut short: not every register was answered
        }
        bAllAnswered = bAllAnswered && reading->status == ReplyStatus::Ok;
        m_writer.Write(*reading);
    }
    return bAllAnswered ? kExitOk : kExitNoAnswer;
}

// Rounds on a steady cadence: a round starts `interval` after the one before, or at once when
// that one took longer. Ending it (--count, a signal, a closed output) is the normal way out:
// the exit code tells whether every reading so far was answered.
int CBusCommands::Watch() {
    bool bAllAnswered = true;
    auto tNext = SteadyClock::now();
    for (int64_t nRound = 0; m_options.nCount == 0 || nRound < m_options.nCount; ++nRound) {
        if (nRound > 0) {
            if (m_writer.Failed()) {
                break;
            }
            tNext = std::max(tNext + m_options.interval, SteadyClock::now());
            if (!m_exchange.SleepUntil(tNext)) {
                break;
            }
        }
        for (const int address : m_options.addresses) {
            const std::optional<Reading> reading =
                Stopped() ? std::nullopt : Ask(address, kRegisterProcessValue);
            if (!reading) {
                return bAllAnswered ? kExitOk : kExitNoAnswer;
            }
            bAllAnswered = bAllAnswered && reading->status == ReplyStatus::Ok;
            m_writer.Write(*reading);
        }
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
    const Reading reading =
        MakeReading(result, expect.address, expect.bank, body.substr(kBodyRegister, 2));
    if (m_writer.Format() == OutputFormat::Text) {
        m_writer.WriteText(SendText(body, crc, reading));
    } else {
        m_writer.Write(reading);
    }
    return reading.status == ReplyStatus::Ok ? kExitOk : kExitNoAnswer;
}
