#include "serial/NetworkLink.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <optional>

namespace {

// The most the send queue holds before Send reports it full: many frames' worth, so only a
// server that takes nothing at all fills it.
constexpr size_t kMaxQueued = 4096;
// Received data kept for reading at most; beyond it the oldest goes, as a driver's full input
// queue drops bytes. Nobody reads that much without asking in between.
constexpr size_t kMaxReceived = 64 * 1024;
// Answers of the server that nobody awaits (SET-CONTROL's, line-state notes) are kept this many.
constexpr size_t kMaxMessages = 64;
constexpr size_t kReceiveChunk = 4096;
// How long a raw TCP port is watched after connecting for a server that closes it again at once.
constexpr std::chrono::milliseconds kRawRefusalWait{50};
// How long closing waits for the server to close its side.
constexpr std::chrono::milliseconds kCloseWait{250};
// Of what a server says before it closes, this much goes into the reason.
constexpr size_t kMaxClosingWords = 80;

using Clock = CNetworkLink::Clock;

std::string Seconds(std::chrono::milliseconds budget) {
    if (budget.count() % 1000 == 0) {
        return std::to_string(budget.count() / 1000) + " s";
    }
    return std::to_string(budget.count()) + " ms";
}

std::chrono::milliseconds LeftMs(Clock::time_point deadline) {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds{0});
}

// RFC 2217's codes of the port class's line settings; nothing for a code without one.
std::optional<uint8_t> ParityCode(int parity) {
    static constexpr std::array<uint8_t, 5> kCodes = {1, 2, 3, 4, 5}; // none odd even mark space
    if (parity < 0 || parity >= static_cast<int>(kCodes.size())) {
        return std::nullopt;
    }
    return kCodes[static_cast<size_t>(parity)];
}

std::optional<uint8_t> StopSizeCode(int stopBits) {
    switch (stopBits) {
    case 0:
        return 1;
    case 1:
        return 3; // one and a half
    case 2:
        return 2;
    default:
        return std::nullopt;
    }
}

std::string ParityName(uint8_t code) {
    static constexpr std::array<const char*, 6> kNames = {
        "no parity query", "no parity", "odd parity", "even parity", "mark parity", "space parity"};
    return code < kNames.size() ? kNames[code] : "parity code " + std::to_string(code);
}

std::string StopSizeName(uint8_t code) {
    switch (code) {
    case 1:
        return "1 stop bit";
    case 2:
        return "2 stop bits";
    case 3:
        return "1.5 stop bits";
    default:
        return "stop-size code " + std::to_string(code);
    }
}

// The speed's four bytes, most significant first; bytes beyond them are not the speed's.
uint32_t BigEndian(const std::vector<uint8_t>& value) {
    uint32_t n = 0;
    for (size_t i = 0; i < value.size() && i < sizeof n; ++i) {
        n = (n << 8) | value[i];
    }
    return n;
}

// One setting asked of the server, and how to say it.
struct Asked {
    uint8_t command = 0;
    std::vector<uint8_t> value;
    std::optional<std::vector<uint8_t>> answer;

    // The answer confirms the value when it begins with it: some servers send more bytes than the
    // value has (a speed in eight), and what follows is not part of the setting.
    bool Confirmed() const {
        return answer && answer->size() >= value.size() &&
               std::equal(value.begin(), value.end(), answer->begin());
    }
    bool AnsweredOtherwise() const { return answer && !Confirmed(); }

    std::string Describe(const std::vector<uint8_t>& v) const {
        switch (command) {
        case comport::kSetBaudRate:
            return std::to_string(BigEndian(v)) + " bit/s";
        case comport::kSetDataSize:
            return std::to_string(v.empty() ? 0 : v[0]) + " data bits";
        case comport::kSetParity:
            return ParityName(v.empty() ? 0 : v[0]);
        case comport::kSetStopSize:
            return StopSizeName(v.empty() ? 0 : v[0]);
        default:
            return v == std::vector<uint8_t>{comport::kNoFlowControl}
                       ? "no flow control"
                       : "flow-control code " + std::to_string(v.empty() ? 0 : v[0]);
        }
    }
};

} // namespace

CNetworkLink::CNetworkLink(const NetworkAddress& address, SocketHandle socket)
    : m_address(address), m_socket(socket) {}

CNetworkLink::~CNetworkLink() {
    Flush(); // a last SET-CONTROL, if the socket takes it now
    // The end of the stream first, and a short wait for the server to close its side: a server
    // that serves one client at a time (ser2net) gives the port up only once it has seen the end,
    // and would turn away a connection made again at once, as after new line settings.
    if (!m_bGone) {
        ShutdownSending(m_socket);
        const Clock::time_point deadline = Clock::now() + kCloseWait;
        std::array<uint8_t, kReceiveChunk> discard{};
        for (;;) {
            const int n = ReceiveSome(m_socket, discard.data(), static_cast<int>(discard.size()));
            const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
            if ((n != kSocketWouldBlock && n <= 0) || left.count() <= 0) {
                break;
            }
            if (n == kSocketWouldBlock) {
                WaitSocket(m_socket, false, left.count());
            }
        }
    }
    CloseSocket(m_socket);
}

std::unique_ptr<CNetworkLink> CNetworkLink::Connect(const NetworkAddress& address,
                                                    Clock::time_point deadline, OpenError& error) {
    error = {};
    ConnectError failure;
    const std::chrono::milliseconds budget = LeftMs(deadline);
    const SocketHandle socket = ConnectTcp(address.host, address.nPort, budget, failure);
    if (socket == kNoSocket) {
        std::string text = failure.text;
        if (failure.kind == ConnectFailure::TimedOut && text == "timed out") {
            text += " (no connection within " + Seconds(kNetworkOpenBudget) + ")";
        }
        // A server that is not there is a device that is not there: the owner tries again later.
        error = OpenError{OpenFailure::NoDevice, 0, std::move(text)};
        return nullptr;
    }
    std::unique_ptr<CNetworkLink> link(new CNetworkLink(address, socket)); // private constructor
    if (address.protocol == NetworkProtocol::RawTcp) {
        // A server whose port is taken accepts and closes again at once, often with a word of
        // why ("Port already in use"): a short look tells that from a port that is open.
        link->PumpUntil([&] { return link->IsGone(); },
                        std::min(deadline, Clock::now() + kRawRefusalWait));
        if (!link->IsGone()) {
            return link;
        }
        error = OpenError{OpenFailure::InUse, 0,
                          "the server closed the connection" + link->ClosingWords()};
        return nullptr;
    }
    link->Queue(link->m_telnet.Opening());
    link->Flush();
    CTelnetCodec& telnet = link->m_telnet;
    if (link->PumpUntil([&] { return telnet.ComPortAccepted() || telnet.ComPortRefused(); },
                        deadline) &&
        telnet.ComPortAccepted()) {
        return link;
    }
    const std::string rawHint =
        "; a raw TCP port is tcp://" +
        FormatNetworkAddress(address).substr(std::string("rfc2217://").size());
    if (telnet.ComPortRefused()) {
        error = OpenError{OpenFailure::NotSerial, 0,
                          "the server refuses the COM-port option (RFC 2217)" + rawHint};
    } else if (link->IsGone()) {
        error = OpenError{OpenFailure::InUse, 0,
                          "the server closed the connection" + link->ClosingWords()};
    } else {
        error = OpenError{OpenFailure::NotSerial, 0,
                          "no answer to the COM-port option (RFC 2217) within " +
                              Seconds(kNetworkOpenBudget) + rawHint};
    }
    return nullptr;
}

bool CNetworkLink::SetLine(const LineSettings& line, Clock::time_point deadline,
                           std::string& reason) {
    reason.clear();
    if (m_address.protocol == NetworkProtocol::RawTcp) {
        return true;
    }
    const std::optional<uint8_t> parity = ParityCode(line.parity);
    const std::optional<uint8_t> stopSize = StopSizeCode(line.stopBits);
    if (line.speed <= 0 || line.dataBits < 5 || line.dataBits > 8 || !parity || !stopSize) {
        reason = "not a line setting the COM-port option can carry";
        return false;
    }
    const auto speed = static_cast<uint32_t>(line.speed);
    std::array<Asked, 5> asked = {{
        {comport::kSetBaudRate,
         {static_cast<uint8_t>(speed >> 24), static_cast<uint8_t>(speed >> 16),
          static_cast<uint8_t>(speed >> 8), static_cast<uint8_t>(speed)},
         std::nullopt},
        {comport::kSetDataSize, {static_cast<uint8_t>(line.dataBits)}, std::nullopt},
        {comport::kSetParity, {*parity}, std::nullopt},
        {comport::kSetStopSize, {*stopSize}, std::nullopt},
        {comport::kSetControl, {comport::kNoFlowControl}, std::nullopt},
    }};
    m_messages.clear();
    for (const Asked& a : asked) {
        Queue(CTelnetCodec::ComPortCommand(a.command, a.value));
    }
    Flush();
    // Each answer is the first message with the command's answer code; others (line-state notes
    // and the like) pass by.
    const auto collect = [&] {
        for (const ComPortMessage& message : m_messages) {
            for (Asked& a : asked) {
                if (!a.answer && message.command == a.command + comport::kServerOffset) {
                    a.answer = message.value;
                    break;
                }
            }
        }
        m_messages.clear();
        // A setting answered otherwise already decides it.
        return std::all_of(asked.begin(), asked.end(), [](const Asked& a) { return a.answer; }) ||
               std::any_of(asked.begin(), asked.end(),
                           [](const Asked& a) { return a.AnsweredOtherwise(); });
    };
    PumpUntil(collect, deadline);
    bool bAll = true;
    for (const Asked& a : asked) {
        if (a.AnsweredOtherwise()) {
            reason = a.answer->size() < a.value.size()
                         ? "the device server answers " + a.Describe(a.value) + " with " +
                               std::to_string(a.answer->size()) + " bytes, not the " +
                               std::to_string(a.value.size()) + " of the setting"
                         : "the device server refuses the line settings: it sets " +
                               a.Describe(*a.answer) + ", not " + a.Describe(a.value);
            return false;
        }
        bAll = bAll && a.answer.has_value();
    }
    if (bAll) {
        return true;
    }
    if (m_bGone) {
        reason = "the server closed the connection" + ClosingWords();
        return false;
    }
    for (const Asked& a : asked) {
        if (!a.answer) {
            reason = "the device server does not confirm " + a.Describe(a.value) +
                     " (no answer within " + Seconds(kNetworkOpenBudget) + ")";
            break;
        }
    }
    return false;
}

void CNetworkLink::Purge(Clock::time_point deadline) {
    Pump();
    m_in.clear();
    if (m_address.protocol == NetworkProtocol::RawTcp || m_bGone) {
        return;
    }
    m_messages.clear();
    Queue(CTelnetCodec::ComPortCommand(comport::kPurgeData, std::array{comport::kPurgeBoth}));
    Flush();
    // What the server sent before it purged is stale; it may come up to its confirmation. A data
    // byte behind the confirmation in the same piece would be dropped too, but nothing has been
    // asked yet that could be answered so soon.
    const auto confirmed = [&] {
        m_in.clear();
        const bool bSeen = std::any_of(m_messages.begin(), m_messages.end(), [](const auto& m) {
            return m.command == comport::kPurgeData + comport::kServerOffset;
        });
        m_messages.clear();
        return bSeen;
    };
    PumpUntil(confirmed, deadline);
    m_in.clear();
}

void CNetworkLink::SetDtr(bool bOn) {
    if (m_address.protocol == NetworkProtocol::Rfc2217) {
        Queue(CTelnetCodec::ComPortCommand(comport::kSetControl,
                                           std::array{bOn ? comport::kDtrOn : comport::kDtrOff}));
        Flush();
    }
}

void CNetworkLink::SetRts(bool bOn) {
    if (m_address.protocol == NetworkProtocol::Rfc2217) {
        Queue(CTelnetCodec::ComPortCommand(comport::kSetControl,
                                           std::array{bOn ? comport::kRtsOn : comport::kRtsOff}));
        Flush();
    }
}

int CNetworkLink::Send(const uint8_t* bytes, int count) {
    if (m_bGone) {
        return kDeviceGone;
    }
    Flush();
    if (m_out.size() >= kMaxQueued) {
        return m_bGone ? kDeviceGone : kWriteWouldBlock;
    }
    const std::span<const uint8_t> data(bytes, static_cast<size_t>(std::max(count, 0)));
    if (m_address.protocol == NetworkProtocol::Rfc2217) {
        m_telnet.EncodeData(data, m_out);
    } else {
        m_out.insert(m_out.end(), data.begin(), data.end());
    }
    Flush();
    return m_bGone ? kDeviceGone : count;
}

bool CNetworkLink::WaitWritable(int64_t timeoutUs) {
    Flush();
    if (m_bGone || m_out.size() < kMaxQueued) {
        return true;
    }
    WaitSocket(m_socket, true, timeoutUs);
    Flush();
    return m_bGone || m_out.size() < kMaxQueued;
}

int CNetworkLink::Unsent() {
    Flush();
    return static_cast<int>(m_out.size());
}

int CNetworkLink::Available() {
    Pump();
    if (!m_in.empty()) {
        return static_cast<int>(m_in.size());
    }
    return m_bGone ? kDeviceGone : 0;
}

int CNetworkLink::Take(uint8_t* buffer, int count) {
    if (m_in.empty()) {
        return m_bGone ? kDeviceGone : 0;
    }
    const size_t n = std::min(m_in.size(), static_cast<size_t>(std::max(count, 0)));
    std::memcpy(buffer, m_in.data(), n);
    m_in.erase(m_in.begin(), m_in.begin() + static_cast<std::ptrdiff_t>(n));
    return static_cast<int>(n);
}

bool CNetworkLink::WaitReadable(int64_t timeoutUs) {
    const Clock::time_point deadline =
        Clock::now() + std::chrono::microseconds(std::max<int64_t>(timeoutUs, 0));
    return PumpUntil([this] { return !m_in.empty(); }, deadline) || m_bGone;
}

void CNetworkLink::Queue(const std::vector<uint8_t>& bytes) {
    m_out.insert(m_out.end(), bytes.begin(), bytes.end());
}

void CNetworkLink::Flush() {
    while (!m_bGone && !m_out.empty()) {
        const int n = SendSome(m_socket, m_out.data(), static_cast<int>(m_out.size()));
        if (n > 0) {
            m_out.erase(m_out.begin(), m_out.begin() + n);
            continue;
        }
        if (n != kSocketWouldBlock) {
            m_bGone = true; // closed, reset, or failed: this connection carries nothing more
        }
        return;
    }
}

void CNetworkLink::Pump() {
    std::array<uint8_t, kReceiveChunk> chunk{};
    std::vector<uint8_t> replies;
    while (!m_bGone) {
        const int n = ReceiveSome(m_socket, chunk.data(), static_cast<int>(chunk.size()));
        if (n == kSocketWouldBlock) {
            break;
        }
        if (n <= 0) {
            m_bGone = true;
            break;
        }
        const std::span<const uint8_t> piece(chunk.data(), static_cast<size_t>(n));
        if (m_address.protocol == NetworkProtocol::Rfc2217) {
            m_telnet.Receive(piece, m_in, m_messages, replies);
        } else {
            m_in.insert(m_in.end(), piece.begin(), piece.end());
        }
    }
    if (m_in.size() > kMaxReceived) {
        m_in.erase(m_in.begin(), m_in.end() - static_cast<std::ptrdiff_t>(kMaxReceived));
    }
    if (m_messages.size() > kMaxMessages) {
        m_messages.erase(m_messages.begin(),
                         m_messages.end() - static_cast<std::ptrdiff_t>(kMaxMessages));
    }
    if (!replies.empty()) {
        Queue(replies);
        Flush();
    }
}

template <typename Done> bool CNetworkLink::PumpUntil(Done done, Clock::time_point deadline) {
    for (;;) {
        Pump();
        if (done()) {
            return true;
        }
        const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
        if (m_bGone || left.count() <= 0) {
            return false;
        }
        WaitSocket(m_socket, false, left.count());
    }
}

std::string CNetworkLink::ClosingWords() const {
    std::string words;
    for (const uint8_t byte : m_in) {
        if (words.size() >= kMaxClosingWords) {
            break;
        }
        if (std::isprint(byte) != 0) {
            words.push_back(static_cast<char>(byte));
        } else if (!words.empty() && words.back() != ' ') {
            words.push_back(' ');
        }
    }
    while (!words.empty() && words.back() == ' ') {
        words.pop_back();
    }
    return words.empty() ? std::string() : ": \"" + words + "\"";
}
