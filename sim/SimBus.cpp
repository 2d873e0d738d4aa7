#include "sim/SimBus.h"

#include <algorithm>

#include "protocol/FrameCodec.h"

namespace {

constexpr int kNoAnswerAs = -1;

SimClock SteadyClockFromNow() {
    const auto start = std::chrono::steady_clock::now();
    return [start] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - start);
    };
}

bool IsPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::string DescribeBody(std::string_view body) {
    if (IsPrintable(body)) {
        return std::string(body);
    }
    return FormatHexDump(reinterpret_cast<const uint8_t*>(body.data()),
                         static_cast<int>(body.size()));
}

// The slot of the meter with `address`, or null; for the const and the mutable list alike.
template <typename Slots>
auto FindByAddress(Slots& slots, int address) -> decltype(&*slots.begin()) {
    const auto found = std::find_if(slots.begin(), slots.end(), [address](const auto& slot) {
        return slot.meter.Address() == address;
    });
    return found == slots.end() ? nullptr : &*found;
}

} // namespace

CSimBus::CSimBus(std::vector<CSimMeter> meters, SimFaults faults, uint32_t seed, SimClock clock)
    : m_faults(ClampFaults(faults)), m_rng(seed),
      m_fnClock(clock ? std::move(clock) : SteadyClockFromNow()) {
    for (CSimMeter& meter : meters) {
        // Two meters with one address would talk over each other; the first one keeps it.
        if (IsAddress(meter.Address()) && !FindSlot(meter.Address())) {
            m_vecMeters.push_back(
                MeterSlot{std::move(meter), false, {}, kNoAnswerAs, false, std::nullopt, 0});
        }
    }
}

std::vector<SimReply> CSimBus::Feed(std::span<const uint8_t> bytes) {
    std::vector<SimReply> replies;
    const std::lock_guard lock(m_mutex);
    m_scanner.Push(bytes);
    while (std::optional<ScannedFrame> frame = m_scanner.Next()) {
        if (!frame->bValid) {
            ++m_nFramesIgnored;
            Log("rx " + DescribeBody(frame->body) + " (bad CRC or no ETX)");
            continue;
        }
        ++m_nFramesReceived;
        if (m_dqBodies.size() >= kBodyLogCapacity) {
            m_dqBodies.pop_front();
        }
        m_dqBodies.push_back(frame->body);
        if (std::optional<SimReply> reply = Answer(frame->body)) {
            ++m_nRepliesProduced;
            replies.push_back(std::move(*reply));
        }
    }
    return replies;
}

std::optional<SimReply> CSimBus::Answer(const std::string& body) {
    const std::string heard = "rx " + DescribeBody(body);
    const std::optional<SimRequest> request = ParseRequestBody(body);
    if (!request) {
        Log(heard + " (not understood)");
        return std::nullopt;
    }
    // RD and WD are what meters answer with: another meter's reply, heard on the shared line.
    if (request->commandIndex == kCommandResponse ||
        request->commandIndex == kCommandWriteResponse) {
        Log(heard + " (a reply, ignored)");
        return std::nullopt;
    }
    MeterSlot* slot = FindSlot(request->address);
    if (slot == nullptr) {
        Log(heard + " (no meter)");
        return std::nullopt;
    }
    if (!CSimMeter::IsRegister(request->bank, request->registerIndex)) {
        Log(heard + " (no such bank)");
        return std::nullopt;
    }
    const std::chrono::milliseconds now = m_fnClock();
    if (IsSilentNow(*slot, now)) {
        Log(heard + " (meter silent)");
        return std::nullopt;
    }
    ++slot->nRequests;
    const bool bWrite = request->commandIndex == kCommandWrite;
    if (bWrite && !slot->bReadOnly) {
        slot->meter.Write(request->bank, request->registerIndex, request->value, request->decimals,
                          now);
    }
    // The meter has acted on the request; from here on the line loses or spoils its answer.
    if (m_nDropNext > 0 || Roll(m_faults.nDropPercent)) {
        m_nDropNext = std::max(0, m_nDropNext - 1);
        ++m_nRepliesDropped;
        Log(heard + " (reply dropped)");
        return std::nullopt;
    }
    const int address = slot->nAnswerAs >= 0 ? slot->nAnswerAs : request->address;
    // A write is answered with the value it carried, taken or not: the meter's word, which only
    // reading the register back can check.
    const int command =
        m_faults.bReject ? kCommandRead : (bWrite ? m_nWriteReplyCommand : kCommandResponse);
    SimReplyFrame frame;
    if (m_bCountRequests) {
        frame = BuildReplyFrame(address, command, request->bank, request->registerIndex,
                                static_cast<double>(slot->nRequests), 0);
    } else if (bWrite) {
        frame = BuildReplyFrame(address, command, request->bank, request->registerIndex,
                                request->field);
    } else {
        frame = BuildReplyFrame(address, command, request->bank, request->registerIndex,
                                slot->meter.Value(request->bank, request->registerIndex, now),
                                slot->meter.Decimals(request->bank, request->registerIndex));
    }
    if (m_nCorruptNext > 0 || Roll(m_faults.nCorruptPercent)) {
        m_nCorruptNext = std::max(0, m_nCorruptNext - 1);
        frame[kReplyFrameLength - 1] ^= 0xFF;
    }

    SimReply reply;
    reply.delay = slot->delay.value_or(m_faults.delay);
    AppendRandom(reply.bytes, m_faults.nNoiseBytes);
    reply.bytes.insert(reply.bytes.end(), frame.begin(), frame.end());
    AppendRandom(reply.bytes, m_faults.nLongExtraBytes);
    Log(heard + " -> " +
        std::string(reinterpret_cast<const char*>(frame.data()) + 2, kFrameBodyLength));
    return reply;
}

bool CSimBus::Roll(int percent) {
    if (percent <= 0) {
        return false;
    }
    if (percent >= 100) {
        return true;
    }
    return std::uniform_int_distribution<int>(0, 99)(m_rng) < percent;
}

void CSimBus::AppendRandom(std::vector<uint8_t>& bytes, int count) {
    std::uniform_int_distribution<int> byte(0, 255);
    for (int i = 0; i < count; ++i) {
        bytes.push_back(static_cast<uint8_t>(byte(m_rng)));
    }
}

bool CSimBus::IsSilentNow(const MeterSlot& slot, std::chrono::milliseconds now) const {
    return slot.bSilent ||
           std::any_of(slot.windows.begin(), slot.windows.end(),
                       [now](const SilentWindow& w) { return now >= w.from && now < w.to; });
}

CSimBus::MeterSlot* CSimBus::FindSlot(int address) {
    return FindByAddress(m_vecMeters, address);
}

const CSimBus::MeterSlot* CSimBus::FindSlot(int address) const {
    return FindByAddress(m_vecMeters, address);
}

void CSimBus::Log(std::string_view line) const {
    if (m_fnLog) {
        m_fnLog(line);
    }
}

void CSimBus::SetFaults(const SimFaults& faults) {
    const std::lock_guard lock(m_mutex);
    m_faults = ClampFaults(faults);
}

SimFaults CSimBus::Faults() const {
    const std::lock_guard lock(m_mutex);
    return m_faults;
}

// Every single-fault setter changes one field of the fault set under the lock and clamps the
// whole set again, as SetFaults does.
template <typename Field, typename Value>
void CSimBus::SetFault(Field SimFaults::*field, Value value) {
    const std::lock_guard lock(m_mutex);
    m_faults.*field = value;
    m_faults = ClampFaults(m_faults);
}

void CSimBus::SetDropPercent(int percent) {
    SetFault(&SimFaults::nDropPercent, percent);
}

void CSimBus::SetCorruptPercent(int percent) {
    SetFault(&SimFaults::nCorruptPercent, percent);
}

void CSimBus::SetNoiseBytes(int count) {
    SetFault(&SimFaults::nNoiseBytes, count);
}

void CSimBus::SetDelay(std::chrono::milliseconds delay) {
    SetFault(&SimFaults::delay, delay);
}

void CSimBus::SetLongReply(int extraBytes) {
    SetFault(&SimFaults::nLongExtraBytes, extraBytes);
}

void CSimBus::SetReject(bool reject) {
    SetFault(&SimFaults::bReject, reject);
}

void CSimBus::DropNextReplies(int count) {
    const std::lock_guard lock(m_mutex);
    m_nDropNext = std::max(0, count);
}

void CSimBus::CorruptNextReplies(int count) {
    const std::lock_guard lock(m_mutex);
    m_nCorruptNext = std::max(0, count);
}

bool CSimBus::SetSilent(int address, bool silent) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot != nullptr) {
        slot->bSilent = silent;
    }
    return slot != nullptr;
}

bool CSimBus::AddSilentWindow(int address, std::chrono::milliseconds from,
                              std::chrono::milliseconds to) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot != nullptr && from < to) {
        slot->windows.push_back(SilentWindow{from, to});
    }
    return slot != nullptr;
}

bool CSimBus::SetAnswerAs(int address, int replyAddress) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot != nullptr) {
        slot->nAnswerAs = IsAddress(replyAddress) ? replyAddress : kNoAnswerAs;
    }
    return slot != nullptr;
}

bool CSimBus::SetReadOnly(int address, bool bReadOnly) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot != nullptr) {
        slot->bReadOnly = bReadOnly;
    }
    return slot != nullptr;
}

bool CSimBus::SetMeterDelay(int address, std::optional<std::chrono::milliseconds> delay) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot != nullptr) {
        slot->delay = delay ? std::optional(std::clamp(*delay, std::chrono::milliseconds{0},
                                                       SimFaults::kMaxDelay))
                            : std::nullopt;
    }
    return slot != nullptr;
}

void CSimBus::SetWriteReplyCommand(int commandIndex) {
    const std::lock_guard lock(m_mutex);
    m_nWriteReplyCommand =
        commandIndex == kCommandResponse ? kCommandResponse : kCommandWriteResponse;
}

void CSimBus::SetCountRequests(bool bCount) {
    const std::lock_guard lock(m_mutex);
    m_bCountRequests = bCount;
}

uint64_t CSimBus::RequestsHeard(int address) const {
    const std::lock_guard lock(m_mutex);
    const MeterSlot* slot = FindSlot(address);
    return slot != nullptr ? slot->nRequests : 0;
}

std::vector<int> CSimBus::Addresses() const {
    const std::lock_guard lock(m_mutex);
    std::vector<int> addresses;
    for (const MeterSlot& slot : m_vecMeters) {
        addresses.push_back(slot.meter.Address());
    }
    return addresses;
}

bool CSimBus::HasMeter(int address) const {
    const std::lock_guard lock(m_mutex);
    return FindSlot(address) != nullptr;
}

std::optional<double> CSimBus::RegisterValue(int address, int bank, int registerIndex) const {
    const std::lock_guard lock(m_mutex);
    const MeterSlot* slot = FindSlot(address);
    if (slot == nullptr || !CSimMeter::IsRegister(bank, registerIndex)) {
        return std::nullopt;
    }
    return slot->meter.Value(bank, registerIndex, m_fnClock());
}

bool CSimBus::WriteRegister(int address, int bank, int registerIndex, double value, int decimals) {
    const std::lock_guard lock(m_mutex);
    MeterSlot* slot = FindSlot(address);
    if (slot == nullptr || !CSimMeter::IsRegister(bank, registerIndex)) {
        return false;
    }
    slot->meter.Write(bank, registerIndex, value, decimals, m_fnClock());
    return true;
}

std::optional<SimReplyFrame> CSimBus::ReplyFor(int address, int bank, int registerIndex) const {
    const std::lock_guard lock(m_mutex);
    const MeterSlot* slot = FindSlot(address);
    if (slot == nullptr || !CSimMeter::IsRegister(bank, registerIndex)) {
        return std::nullopt;
    }
    return BuildReplyFrame(address, kCommandResponse, bank, registerIndex,
                           slot->meter.Value(bank, registerIndex, m_fnClock()),
                           slot->meter.Decimals(bank, registerIndex));
}

std::chrono::milliseconds CSimBus::Now() const {
    const std::lock_guard lock(m_mutex);
    return m_fnClock();
}

std::vector<std::string> CSimBus::ReceivedBodies() const {
    const std::lock_guard lock(m_mutex);
    return {m_dqBodies.begin(), m_dqBodies.end()};
}

void CSimBus::ClearReceivedBodies() {
    const std::lock_guard lock(m_mutex);
    m_dqBodies.clear();
}

void CSimBus::SetLogSink(std::function<void(std::string_view)> sink) {
    const std::lock_guard lock(m_mutex);
    m_fnLog = std::move(sink);
}
