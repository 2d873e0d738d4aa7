#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialOps.h"

// What the recording fake did and how it is to behave; owned by the test so that it outlives the
// port that owns the fake.
struct FakeLine {
    // Behaviour.
    OpenFailure openFailure = OpenFailure::None; // anything else: OpenDevice fails so
    bool bOpensAtOnce = true;                    // false: the port opens it on a thread of its own
    std::function<void()> fnInOpen; // runs first in OpenDevice, on the thread that opens
    bool bConfigureRefuses = false;
    bool bKernelRs485 = false;         // the driver raises RTS itself
    bool bKernelDelaysRefused = false; // ... and does not take RTS delays
    bool bGone = false;        // the device has gone away: writes and the input queue say so
    int nWriteChunk = 1 << 20; // most bytes one WriteSome takes
    bool bWouldBlockBetweenChunks = false; // every other WriteSome finds the queue full
    bool bWriteFails = false;
    // Scripted answers of the driver's queue and the line-status register; the last one repeats.
    std::vector<int> outputQueued = {0};
    std::vector<TransmitterState> transmitter = {TransmitterState::Empty};
    // A paced line instead: the bytes leave at the configured speed, one after the other, from the
    // moment they are handed over; the queue and the register tell the truth, or nothing.
    bool bPaced = false;
    bool bOutqReadable = true;
    bool bLsrReadable = true;
    int nInputWaiting = 0;
    int nReadResult = -1; // -1: ReadSome delivers what it was asked for
    // Bytes that arrived on the line, when a test plays the far side: while there are any, the
    // input queue holds them and ReadSome hands them out in order; what it does not take stays.
    std::vector<uint8_t> input;

    // Record.
    std::vector<std::string> events;
    std::vector<int64_t> eventTimesUs; // the fake clock at each event
    std::vector<uint8_t> sent;
    int64_t nNowUs = 1'000'000;
    int64_t nLineFreeUs = 0; // paced: when the last byte handed over has left the line
    int nCalls = 0;

    void ClearEvents() {
        events.clear();
        eventTimesUs.clear();
    }
    // The fake clock when `event` was first recorded; -1 when it never was.
    int64_t TimeOf(const std::string& event) const {
        const auto it = std::find(events.begin(), events.end(), event);
        return it == events.end() ? -1 : eventTimesUs[static_cast<size_t>(it - events.begin())];
    }
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

    bool OpensAtOnce(const std::string&) override { return m_line.bOpensAtOnce; }
    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        if (m_line.fnInOpen) {
            m_line.fnInOpen();
        }
        Record("open " + path);
        error = {m_line.openFailure, 0};
        return m_line.openFailure != OpenFailure::None ? kNullPortHandle : kHandle;
    }
    void CloseDevice(PortHandle h) override { Record("close " + std::to_string(h)); }
    bool Configure(PortHandle, const LineSettings& s) override {
        Record("configure " + std::to_string(s.speed) + " " + std::to_string(s.dataBits) + " " +
               std::to_string(s.parity) + " " + std::to_string(s.stopBits));
        // The line's own idea of a character's time, worked out here independently.
        const double bits = 1.0 + s.dataBits + (s.parity != 0 ? 1 : 0) + (s.stopBits == 2 ? 2 : 1);
        m_characterUs = s.speed > 0 ? bits * 1e6 / s.speed : 0.0;
        return !m_line.bConfigureRefuses;
    }
    void FlushQueues(PortHandle) override { Record("flush"); }
    void SetDtr(PortHandle, bool bOn) override { Record(bOn ? "dtr on" : "dtr off"); }
    void SetRts(PortHandle, bool bOn) override { Record(bOn ? "rts on" : "rts off"); }
    bool KernelDrivesRts(PortHandle) override { return m_line.bKernelRs485; }
    bool SetKernelRtsDelays(PortHandle, int beforeMs, int afterMs) override {
        Record("rs485 delays " + std::to_string(beforeMs) + " " + std::to_string(afterMs));
        return m_line.bKernelRs485 && !m_line.bKernelDelaysRefused;
    }

    int WriteSome(PortHandle, const uint8_t* bytes, int count) override {
        if (m_line.bGone) {
            Record("write gone");
            return kDeviceGone;
        }
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
        const auto nStartUs = static_cast<double>(std::max(m_line.nNowUs, m_line.nLineFreeUs));
        m_line.nLineFreeUs = static_cast<int64_t>(nStartUs + n * m_characterUs + 0.999);
        return n;
    }
    bool WaitWritable(PortHandle, int64_t timeoutUs) override {
        Record("wait writable");
        m_line.nNowUs += std::min<int64_t>(timeoutUs, 100);
        return true;
    }
    int OutputQueued(PortHandle) override {
        Record("outq");
        if (Runaway()) {
            return 0;
        }
        if (m_line.bPaced) {
            if (!m_line.bOutqReadable || m_line.nNowUs >= m_line.nLineFreeUs) {
                return 0;
            }
            // Characters not yet begun; the one in the shift register no longer counts.
            const double left = static_cast<double>(m_line.nLineFreeUs - m_line.nNowUs);
            return std::max(0, static_cast<int>(left / m_characterUs + 0.999) - 1);
        }
        return Next(m_line.outputQueued, m_nOutq);
    }
    TransmitterState Transmitter(PortHandle) override {
        Record("lsr");
        if (Runaway()) {
            return TransmitterState::Empty;
        }
        if (m_line.bPaced) {
            if (!m_line.bLsrReadable) {
                return TransmitterState::Unknown;
            }
            return m_line.nNowUs >= m_line.nLineFreeUs ? TransmitterState::Empty
                                                       : TransmitterState::Busy;
        }
        return Next(m_line.transmitter, m_nLsr);
    }
    int InputWaiting(PortHandle) override {
        Record("inq");
        if (m_line.bGone) {
            return kDeviceGone;
        }
        return m_line.input.empty() ? m_line.nInputWaiting : static_cast<int>(m_line.input.size());
    }
    int ReadSome(PortHandle, uint8_t* buffer, int count) override {
        Record("read " + std::to_string(count));
        if (!m_line.input.empty()) {
            const auto n = std::min(m_line.input.size(), static_cast<size_t>(count));
            std::copy_n(m_line.input.begin(), n, buffer);
            m_line.input.erase(m_line.input.begin(), m_line.input.begin() + static_cast<long>(n));
            return static_cast<int>(n);
        }
        const int n = m_line.nReadResult < 0 ? count : m_line.nReadResult;
        for (int i = 0; i < n; ++i) {
            buffer[i] = static_cast<uint8_t>(0xA0 + i);
        }
        return n;
    }
    // The far side's bytes are all there from the start: a wait ends at once when there are
    // any, else it lets its whole time pass on the fake clock.
    bool WaitInput(PortHandle, int64_t timeoutUs) override {
        Record("wait input");
        if (m_line.bGone || !m_line.input.empty() || m_line.nInputWaiting > 0) {
            return true;
        }
        m_line.nNowUs += std::max<int64_t>(timeoutUs, 0);
        return false;
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
            m_line.eventTimesUs.push_back(m_line.nNowUs);
        }
    }
    template <typename T> static T Next(const std::vector<T>& answers, size_t& nIndex) {
        const T answer = answers[std::min(nIndex, answers.size() - 1)];
        ++nIndex;
        return answer;
    }

    FakeLine& m_line;
    double m_characterUs = 0.0;
    bool m_bBlockNext = true;
    size_t m_nOutq = 0;
    size_t m_nLsr = 0;
};

inline std::unique_ptr<ISerialOps> MakeRecordingOps(FakeLine& line) {
    return std::make_unique<CRecordingSerialOps>(line);
}
