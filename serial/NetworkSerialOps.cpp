#include "serial/NetworkSerialOps.h"

#include <chrono>
#include <string>
#include <thread>

#include "serial/NetworkLink.h"
#include "serial/PortAddress.h"

namespace {

using Clock = CNetworkLink::Clock;

// One connection at a time, as the port class holds one device; its handle is the socket.
class CNetworkSerialOps final : public ISerialOps {
public:
    PortHandle OpenDevice(const std::string& path, OpenError& error) override {
        error = {};
        m_link.reset();
        m_strRefusal.clear();
        const Clock::time_point deadline = Clock::now() + kNetworkOpenBudget;
        std::string reason;
        const std::optional<NetworkAddress> address = ParseNetworkAddress(path, reason);
        if (!address) {
            error = OpenError{OpenFailure::NoDevice, 0, reason};
            return kNullPortHandle;
        }
        m_link = CNetworkLink::Connect(*address, deadline, error);
        if (!m_link) {
            return kNullPortHandle;
        }
        m_openDeadline = deadline;
        m_bOpening = true;
        return m_link->Socket();
    }

    void CloseDevice(PortHandle h) override {
        if (Link(h) != nullptr) {
            m_link.reset();
        }
    }

    bool Configure(PortHandle h, const LineSettings& settings) override {
        CNetworkLink* pLink = Link(h);
        if (pLink == nullptr) {
            return false;
        }
        return pLink->SetLine(settings, Deadline(), m_strRefusal);
    }

    void FlushQueues(PortHandle h) override {
        if (CNetworkLink* pLink = Link(h)) {
            pLink->Purge(Deadline());
            m_bOpening = false; // the open's last step: later waits get a budget of their own
        }
    }

    void SetDtr(PortHandle h, bool bOn) override {
        if (CNetworkLink* pLink = Link(h)) {
            pLink->SetDtr(bOn);
        }
    }
    void SetRts(PortHandle h, bool bOn) override {
        if (CNetworkLink* pLink = Link(h)) {
            pLink->SetRts(bOn);
        }
    }

    // On a raw TCP port the server switches the RS485 direction: RTS is its own.
    bool KernelDrivesRts(PortHandle h) override {
        const CNetworkLink* pLink = Link(h);
        return pLink != nullptr && pLink->Protocol() == NetworkProtocol::RawTcp;
    }
    bool SetKernelRtsDelays(PortHandle, int, int) override {
        m_strRefusal = "over raw TCP the device server switches the RS485 direction: set its RTS "
                       "delays there, or use rfc2217://";
        return false;
    }
    std::string RefusalDetail(PortHandle) override { return m_strRefusal; }

    int WriteSome(PortHandle h, const uint8_t* bytes, int count) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr ? pLink->Send(bytes, count) : kWriteFailed;
    }
    bool WaitWritable(PortHandle h, int64_t timeoutUs) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr && pLink->WaitWritable(timeoutUs);
    }
    // Only what has not reached the system yet: how far the server's own transmitter is, nobody
    // here can tell.
    int OutputQueued(PortHandle h) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr ? pLink->Unsent() : -1;
    }
    TransmitterState Transmitter(PortHandle) override { return TransmitterState::Unknown; }

    int InputWaiting(PortHandle h) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr ? pLink->Available() : 0;
    }
    int ReadSome(PortHandle h, uint8_t* buffer, int count) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr ? pLink->Take(buffer, count) : 0;
    }
    bool WaitInput(PortHandle h, int64_t timeoutUs) override {
        CNetworkLink* pLink = Link(h);
        return pLink != nullptr && pLink->WaitReadable(timeoutUs);
    }

    int64_t NowUs() override {
        return std::chrono::duration_cast<std::chrono::microseconds>(
                   Clock::now().time_since_epoch())
            .count();
    }
    void SleepUs(int64_t us) override {
        std::this_thread::sleep_for(std::chrono::microseconds(us));
    }

private:
    CNetworkLink* Link(PortHandle h) const {
        return m_link && m_link->Socket() == h ? m_link.get() : nullptr;
    }
    // The open's steps share its budget; a step asked for later has a budget of its own.
    Clock::time_point Deadline() const {
        return m_bOpening ? m_openDeadline : Clock::now() + kNetworkOpenBudget;
    }

    std::unique_ptr<CNetworkLink> m_link;
    Clock::time_point m_openDeadline;
    bool m_bOpening = false;
    std::string m_strRefusal;
};

} // namespace

std::unique_ptr<ISerialOps> CreateNetworkSerialOps() {
    return std::make_unique<CNetworkSerialOps>();
}
