#pragma once

#include <algorithm>
#include <cstdint>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialOps.h"

// What the recording fake did and how it is to behave; owned by the test so that it outlives the
// port that owns the fake.
struct FakeLine {
    // Behaviour.
    bool bOpenFails = false;
    bool bConfigureRefuses = false;
    int nWriteChunk = 1 << 20;             // most bytes one WriteSome takes
    bool bWouldBlockBetweenChunks = false; // every other WriteSome finds the queue full
    bool bWriteFails = false;
    std::vector<int> outputQueued = {0}; // successive TIOCOUTQ answers; the last one repeats
    std::vector<TransmitterState> transmitter = {TransmitterState::Empty}; // likewise
    int64_t nCharacterTimeUs = 1042; // 9600 bit/s, 10 bits a character
    int nInputWaiting = 0;
    int nReadResult = -1; // -1: ReadSome delivers what it was asked for

    // Record.
    std::vector<std::string> events;
    std::vector<uint8_t> sent;
    int64_t nNowUs = 1'000'000;
    int nCalls = 0;
};

// ISerialOps that records every call as a short text ("open /dev/x", "rts on", "write 35") and
// keeps a clock of its own: SleepUs and WaitWritable move it on, and every call takes 10 us, as a
// system call would, so that a loop that watches the clock always ends. A loop that does not
// watch it fails the test instead of hanging it: past kMaxCalls the line fails every write and
// reports itself drained.
class CRecordingSerialOps final : public ISerialOps {
public:
    static constexpr PortHandle kHandle = 7;
    static constexpr int64_t kCallUs = 10;
    static constexpr int kMaxCalls = 100'000;

    explicit CRecordingSerialOps(FakeLine& line) : m_line(line) {}

    PortHandle OpenDevice(const std::string& path) override {
        Record("open " + path);
        return m_line.bOpenFails ? kNullPortHandle : kHandle;
    }
    void CloseDevice(PortHandle h) override { Record("close " + std::to_string(h)); }
    bool Configure(PortHandle, const LineSettings& s) override {
        Record("configure " + std::to_string(s.speed) + " " + std::to_string(s.dataBits) + " " +
               std::to_string(s.parity) + " " + std::to_string(s.stopBits));
        return !m_line.bConfigureRefuses;
    }
    void FlushQueues(PortHandle) override { Record("flush"); }
    void SetDtr(PortHandle, bool bOn) override { Record(bOn ? "dtr on" : "dtr off"); }
    void SetRts(PortHandle, bool bOn) override { Record(bOn ? "rts on" : "rts off"); }

    int WriteSome(PortHandle, const uint8_t* bytes, int count) override {
        if (m_line.bWriteFails || Runaway()) {
            Record("write failed");
            return kWriteFailed;
        }
        m_bBlockNext = !m_bBlockNext;
        if (m_line.bWouldBlockBetweenChunks && !m_bBlockNext) {
            Record("write blocked");
            return kWriteWouldBlock;
        }
        const int n = std::min(count, m_line.nWriteChunk);
        m_line.sent.insert(m_line.sent.end(), bytes, bytes + n);
        Record("write " + std::to_string(n));
        return n;
    }
    bool WaitWritable(PortHandle, int64_t timeoutUs) override {
        Record("wait writable");
        m_line.nNowUs += std::min<int64_t>(timeoutUs, 100);
        return true;
    }
    int OutputQueued(PortHandle) override {
        Record("outq");
        return Runaway() ? 0 : Next(m_line.outputQueued, m_nOutq);
    }
    TransmitterState Transmitter(PortHandle) override {
        Record("lsr");
        return Runaway() ? TransmitterState::Empty : Next(m_line.transmitter, m_nLsr);
    }
    int64_t CharacterTimeUs(PortHandle) override { return m_line.nCharacterTimeUs; }
    int InputWaiting(PortHandle) override {
        Record("inq");
        return m_line.nInputWaiting;
    }
    int ReadSome(PortHandle, uint8_t* buffer, int count) override {
        Record("read " + std::to_string(count));
        const int n = m_line.nReadResult < 0 ? count : m_line.nReadResult;
        for (int i = 0; i < n; ++i) {
            buffer[i] = static_cast<uint8_t>(0xA0 + i);
        }
        return n;
    }
    int64_t NowUs() override {
        Tick();
        return m_line.nNowUs;
    }
    void SleepUs(int64_t us) override {
        Record("sleep");
        m_line.nNowUs += us;
    }

private:
    void Tick() {
        m_line.nNowUs += kCallUs;
        if (++m_line.nCalls == kMaxCalls) {
            ADD_FAILURE() << "more than " << kMaxCalls << " calls: a loop that does not end";
        }
    }
    bool Runaway() const { return m_line.nCalls >= kMaxCalls; }
    void Record(std::string event) {
        Tick();
        if (!Runaway()) {
            m_line.events.push_back(std::move(event));
        }
    }
    template <typename T> static T Next(const std::vector<T>& answers, size_t& nIndex) {
        const T answer = answers[std::min(nIndex, answers.size() - 1)];
        ++nIndex;
        return answer;
    }

    FakeLine& m_line;
    bool m_bBlockNext = true;
    size_t m_nOutq = 0;
    size_t m_nLsr = 0;
};

inline std::unique_ptr<ISerialOps> MakeRecordingOps(FakeLine& line) {
    return std::make_unique<CRecordingSerialOps>(line);
}
