#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/RequestScanner.h"
#include "sim/SimFaults.h"
#include "sim/SimFrames.h"
#include "sim/SimMeter.h"

// Time since the bus started; injected by tests so that P0 and silent windows are deterministic.
using SimClock = std::function<std::chrono::milliseconds()>;

// One reply to send, `delay` after the request was heard.
struct SimReply {
    std::vector<uint8_t> bytes;
    std::chrono::milliseconds delay{0};
};

// The meters on one bus and the faults on its line. Feed() hears bytes and gives the replies, with
// no I/O of its own. A correct request (STX, 15-character body, ETX, CRC) is answered by the meter
// with its address:
//   RX      the reply "RD" with the register's value and decimals, for the requested bank;
//   WX      the value (with its decimal-places digit) is stored, unless the meter is read-only,
//           and answered in the response format with "WD" and the value field the request
//           carried, stored or not;
//   RD, WD  ignored: they are replies, whichever meter sent them.
// Silence: a wrong CRC or a missing ETX, a body the meter does not understand, a bank other than
// 0 or 1, an address with no meter, a meter switched silent or in a silent window.
// Every member may be called from any thread; faults can change while a server runs Feed().
class CSimBus {
public:
    static constexpr size_t kBodyLogCapacity = 1024; // the oldest bodies go first

    explicit CSimBus(std::vector<CSimMeter> meters, SimFaults faults = {}, uint32_t seed = 1,
                     SimClock clock = {});

    std::vector<SimReply> Feed(std::span<const uint8_t> bytes);

    // Faults on every reply.
    void SetFaults(const SimFaults& faults);
    SimFaults Faults() const;
    void SetDropPercent(int percent);
    void SetCorruptPercent(int percent);
    void SetNoiseBytes(int count);
    void SetDelay(std::chrono::milliseconds delay);
    void SetLongReply(int extraBytes);
    void SetReject(bool reject);
    // One-shot faults: the next `count` replies are dropped, or sent with a wrong CRC.
    void DropNextReplies(int count = 1);
    void CorruptNextReplies(int count = 1);

    // Per meter; false when there is no meter with that address.
    bool SetSilent(int address, bool silent);
    // Silent from `from` until just before `to`, in the bus's time.
    bool AddSilentWindow(int address, std::chrono::milliseconds from, std::chrono::milliseconds to);
    // The meter's replies carry `replyAddress` instead of its own; -1 gives its own back.
    bool SetAnswerAs(int address, int replyAddress);
    // The meter answers writes as ever but stores nothing.
    bool SetReadOnly(int address, bool bReadOnly);
    // The command of the reply to a write: WD (the default), or RD for meters that answer a write
    // as if it were a read, which a tool could take for the register's value.
    void SetWriteReplyCommand(int commandIndex);
    // The meter's replies go out `delay` after its requests instead of the faults' delay;
    // nothing gives it the faults' delay back.
    bool SetMeterDelay(int address, std::optional<std::chrono::milliseconds> delay);
    // On: every reply carries, as its value (0 decimals), the number of requests its meter has
    // heard and acted on so far, this one included; so a tool's reading names the request it
    // answers. Off: the registers' values.
    void SetCountRequests(bool bCount);
    // The requests a meter has heard and acted on (a silent meter hears none); 0 for no meter.
    uint64_t RequestsHeard(int address) const;

    // The meters.
    std::vector<int> Addresses() const;
    bool HasMeter(int address) const;
    std::optional<double> RegisterValue(int address, int bank, int registerIndex) const;
    bool WriteRegister(int address, int bank, int registerIndex, double value, int decimals);
    // The reply the meter would send now to RX for that register, faults aside.
    std::optional<SimReplyFrame> ReplyFor(int address, int bank, int registerIndex) const;
    std::chrono::milliseconds Now() const;

    // Counters: frames with a correct CRC and ETX (any address), candidates that failed that
    // check, replies given out by Feed(), replies a fault kept back.
    uint64_t FramesReceived() const { return m_nFramesReceived.load(); }
    uint64_t FramesIgnored() const { return m_nFramesIgnored.load(); }
    uint64_t RepliesProduced() const { return m_nRepliesProduced.load(); }
    uint64_t RepliesDropped() const { return m_nRepliesDropped.load(); }

    // Bodies of the frames received, oldest first.
    std::vector<std::string> ReceivedBodies() const;
    void ClearReceivedBodies();

    // One line per frame heard and what became of it; called with the bus locked.
    void SetLogSink(std::function<void(std::string_view)> sink);

private:
    template <typename Field, typename Value> void SetFault(Field SimFaults::*field, Value value);
    struct SilentWindow {
        std::chrono::milliseconds from;
        std::chrono::milliseconds to;
    };
    struct MeterSlot {
        CSimMeter meter;
        bool bSilent = false;
        std::vector<SilentWindow> windows;
        int nAnswerAs = -1;
        bool bReadOnly = false;
        std::optional<std::chrono::milliseconds> delay; // the faults' delay when unset
        uint64_t nRequests = 0;
    };

    MeterSlot* FindSlot(int address);
    const MeterSlot* FindSlot(int address) const;
    bool IsSilentNow(const MeterSlot& slot, std::chrono::milliseconds now) const;
    std::optional<SimReply> Answer(const std::string& body);
    bool Roll(int percent);
    void AppendRandom(std::vector<uint8_t>& bytes, int count);
    void Log(std::string_view line) const;

    mutable std::mutex m_mutex;
    std::vector<MeterSlot> m_vecMeters;
    SimFaults m_faults;
    int m_nDropNext = 0;
    int m_nCorruptNext = 0;
    int m_nWriteReplyCommand = kCommandWriteResponse;
    bool m_bCountRequests = false;
    std::mt19937 m_rng;
    SimClock m_fnClock;
    CRequestScanner m_scanner;
    std::deque<std::string> m_dqBodies;
    std::function<void(std::string_view)> m_fnLog;

    std::atomic<uint64_t> m_nFramesReceived{0};
    std::atomic<uint64_t> m_nFramesIgnored{0};
    std::atomic<uint64_t> m_nRepliesProduced{0};
    std::atomic<uint64_t> m_nRepliesDropped{0};
};
