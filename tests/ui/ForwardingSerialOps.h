#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "serial/SerialOps.h"

// The operating system's serial calls, passed through unchanged, with the line settings of every
// Configure kept and hooks run just before bytes are written and before the device is closed. The
// bytes really go through a pty; the test only watches.
class CForwardingSerialOps final : public ISerialOps {
public:
    struct Record {
        std::vector<LineSettings> configured;
        std::function<void()> fnBeforeClose;
        std::function<void()> fnBeforeWrite;
        int nCloses = 0;
        int nOpens = 0;                       // attempts, successful or not
        std::vector<std::string> openedPaths; // the paths of those attempts
    };

    explicit CForwardingSerialOps(Record& record)
        : m_record(record), m_pSystem(CreateSystemSerialOps()) {}

    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        ++m_record.nOpens;
        m_record.openedPaths.push_back(path);
        return m_pSystem->OpenDevice(path, error);
    }
    bool OpensAtOnce(const std::string& path) override { return m_pSystem->OpensAtOnce(path); }
    void CloseDevice(PortHandle h) override {
        if (m_record.fnBeforeClose) {
            m_record.fnBeforeClose();
        }
        ++m_record.nCloses;
        m_pSystem->CloseDevice(h);
    }
    bool Configure(PortHandle h, const LineSettings& settings) override {
        m_record.configured.push_back(settings);
        return m_pSystem->Configure(h, settings);
    }
    void FlushQueues(PortHandle h) override { m_pSystem->FlushQueues(h); }
    void SetDtr(PortHandle h, bool bOn) override { m_pSystem->SetDtr(h, bOn); }
    void SetRts(PortHandle h, bool bOn) override { m_pSystem->SetRts(h, bOn); }
    bool KernelDrivesRts(PortHandle h) override { return m_pSystem->KernelDrivesRts(h); }
    bool SetKernelRtsDelays(PortHandle h, int beforeMs, int afterMs) override {
        return m_pSystem->SetKernelRtsDelays(h, beforeMs, afterMs);
    }
    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        if (m_record.fnBeforeWrite) {
            m_record.fnBeforeWrite();
        }
        return m_pSystem->WriteSome(h, bytes, count);
    }
    bool WaitWritable(PortHandle h, int64_t timeoutUs) override {
        return m_pSystem->WaitWritable(h, timeoutUs);
    }
    int OutputQueued(PortHandle h) override { return m_pSystem->OutputQueued(h); }
    TransmitterState Transmitter(PortHandle h) override { return m_pSystem->Transmitter(h); }
    int InputWaiting(PortHandle h) override { return m_pSystem->InputWaiting(h); }
    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        return m_pSystem->ReadSome(h, buffer, count);
    }
    bool WaitInput(PortHandle h, int64_t timeoutUs) override {
        return m_pSystem->WaitInput(h, timeoutUs);
    }
    int64_t NowUs() override { return m_pSystem->NowUs(); }
    void SleepUs(int64_t us) override { m_pSystem->SleepUs(us); }

private:
    Record& m_record;
    std::unique_ptr<ISerialOps> m_pSystem;
};
