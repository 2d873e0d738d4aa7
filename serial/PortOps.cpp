// The serial ports a name can stand for: a device of the operating system, or a port of a serial
// device server on the network (tcp://, rfc2217://). The port class sees one interface; which
// transport carries a port is decided by its name when it is opened.
#include <memory>
#include <string>

#include "serial/NetworkSerialOps.h"
#include "serial/PortAddress.h"
#include "serial/SerialOps.h"

namespace {

// Hands every call to the transport that opened the port; the port class holds one port at a
// time, so the one opened last is the one its calls are about.
class CPortOps final : public ISerialOps {
public:
    explicit CPortOps(std::unique_ptr<ISerialOps> devices)
        : m_pDevices(std::move(devices)), m_pActive(m_pDevices.get()) {}

    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        ISerialOps* pTarget = m_pDevices.get();
        if (IsNetworkPort(path)) {
            if (!m_pNetwork) {
                m_pNetwork = CreateNetworkSerialOps();
            }
            pTarget = m_pNetwork.get();
        }
        const PortHandle h = pTarget->OpenDevice(path, error);
        if (h != kNullPortHandle) {
            m_pActive = pTarget;
        }
        return h;
    }
    bool OpensAtOnce(const std::string& path) override {
        return !IsNetworkPort(path) && m_pDevices->OpensAtOnce(path);
    }
    void CloseDevice(PortHandle h) override {
        m_pActive->CloseDevice(h);
        m_pActive = m_pDevices.get();
    }
    bool Configure(PortHandle h, const LineSettings& s) override {
        return m_pActive->Configure(h, s);
    }
    void FlushQueues(PortHandle h) override { m_pActive->FlushQueues(h); }
    void SetDtr(PortHandle h, bool bOn) override { m_pActive->SetDtr(h, bOn); }
    void SetRts(PortHandle h, bool bOn) override { m_pActive->SetRts(h, bOn); }
    bool KernelDrivesRts(PortHandle h) override { return m_pActive->KernelDrivesRts(h); }
    bool SetKernelRtsDelays(PortHandle h, int beforeMs, int afterMs) override {
        return m_pActive->SetKernelRtsDelays(h, beforeMs, afterMs);
    }
    std::string RefusalDetail(PortHandle h) override { return m_pActive->RefusalDetail(h); }
    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        return m_pActive->WriteSome(h, bytes, count);
    }
    bool WaitWritable(PortHandle h, int64_t timeoutUs) override {
        return m_pActive->WaitWritable(h, timeoutUs);
    }
    int OutputQueued(PortHandle h) override { return m_pActive->OutputQueued(h); }
    TransmitterState Transmitter(PortHandle h) override { return m_pActive->Transmitter(h); }
    int InputWaiting(PortHandle h) override { return m_pActive->InputWaiting(h); }
    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        return m_pActive->ReadSome(h, buffer, count);
    }
    bool WaitInput(PortHandle h, int64_t timeoutUs) override {
        return m_pActive->WaitInput(h, timeoutUs);
    }
    // One clock for every port: the system's.
    int64_t NowUs() override { return m_pDevices->NowUs(); }
    void SleepUs(int64_t us) override { m_pDevices->SleepUs(us); }

private:
    std::unique_ptr<ISerialOps> m_pDevices;
    std::unique_ptr<ISerialOps> m_pNetwork; // made at the first network port
    ISerialOps* m_pActive;
};

} // namespace

std::unique_ptr<ISerialOps> CreateSystemSerialOps() {
    return std::make_unique<CPortOps>(CreateDeviceSerialOps());
}

std::unique_ptr<ISerialOps> CreateSystemSerialOps(std::string_view consoleListPath) {
    return std::make_unique<CPortOps>(CreateDeviceSerialOps(consoleListPath));
}
