#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "cli/RowPublisher.h"
#include "protocol/FrameCodec.h"
#include "serial/UniqueFd.h"

struct mosquitto;

// The rows to an MQTT broker through libmosquitto, all of it on a thread of its own, so that a
// broker that is slow or away never holds the bus.
//
// Each reading goes to PREFIX/<address>/<register> as its json row, QoS 1, retained, so a
// subscriber that comes later sees the last reading at once; PREFIX/<address>/status carries the
// meter's status when it changes, retained; PREFIX/status is "online" while qd7-bus runs and
// "offline" when it ends, or by the broker's last will when it dies.
//
// Messages go out one at a time, in order: the next only once the broker has acknowledged the
// one before. While the broker is away they wait in a queue of at most --queue readings (the
// oldest go first when it is full, said on stderr), and the connection is tried again after 1,
// 2, 4 ... up to 30 s. A message whose acknowledgement was lost with the connection may or may
// not have reached the broker: sent again blindly, as QoS 1 would, it could reach subscribers
// twice. So once connected again, the publisher first asks the broker for that topic's retained
// message: when it is this very message (every row carries its own time), the broker had it, and
// it is not sent again.
class CMqttPublisher final : public IRowPublisher {
public:
    CMqttPublisher(PublishSettings settings, std::optional<std::string> password, FILE* err);
    ~CMqttPublisher() override;
    CMqttPublisher(const CMqttPublisher&) = delete;
    CMqttPublisher& operator=(const CMqttPublisher&) = delete;

    // Sets the client up (will, login, TLS) and starts its thread; false with `error` set.
    bool Start(std::string& error);

    void Publish(const Reading& reading) override;
    bool Failed() const override { return m_bFailed.load(); }
    std::string Failure() const override;
    void Finish() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Message {
        std::string topic;
        std::string payload;
        bool bReading = false; // counted against the queue's bound; status messages are not
    };

    void Run();
    void Enqueue(Message message);
    // One step of the thread: connect when due, the client's I/O, the next message.
    void Step();
    void SendNext();
    void Lost(const std::string& why);
    void Fail(const std::string& why);
    void Say(const std::string& text);
    std::string Where() const;

    static void OnConnect(mosquitto* pMosq, void* pSelf, int rc);
    static void OnDisconnect(mosquitto* pMosq, void* pSelf, int rc);
    static void OnPublish(mosquitto* pMosq, void* pSelf, int mid);
    static void OnMessage(mosquitto* pMosq, void* pSelf, const struct mosquitto_message* pMessage);
    // Callbacks, will, login and TLS on the client; again after each loss, on a fresh client.
    bool Configure(std::string& error);
    // After a loss: the client's own queue goes (the check above decides instead).
    void Renew();
    void EndCheck(bool bBrokerHadIt);
    // The client's I/O: waits up to `timeoutMs` for its socket or a wake-up, then reads, writes
    // and looks after the connection. A libmosquitto error code.
    int Loop(int timeoutMs);
    void Wake();

    PublishSettings m_settings;
    std::optional<std::string> m_password;
    FILE* m_pErr;
    mosquitto* m_pMosq = nullptr;
    std::thread m_thread;
    CUniqueFd m_fdWake; // eventfd: a new message or the end wakes the thread from Loop

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<Message> m_queue;   // the front is in flight once m_inflight is set
    size_t m_nReadingsQueued = 0;  // readings among m_queue
    size_t m_nDropped = 0;         // readings dropped in this absence of the broker
    std::optional<int> m_inflight; // message id of the front, sent, not yet acknowledged
    std::string m_strFailure;
    std::array<int, kAddressCount> m_aLastStatus{}; // per meter, the status published (+1); 0: none

    // The thread's own state.
    std::atomic<bool> m_bConnected{false}; // read by Finish on the main thread
    std::atomic<bool> m_bConnecting{false};
    bool m_bEverConnected = false;
    bool m_bLossSaid = false;
    Clock::time_point m_tNextAttempt;
    std::chrono::seconds m_backoff{1};
    bool m_bRenew = false;         // the connection was lost: a fresh client before the next
    bool m_bHeadUncertain = false; // the front was sent, its acknowledgement lost
    bool m_bChecking = false;      // waiting for the broker's retained copy of the front
    Clock::time_point m_tCheckUntil;

    std::atomic<bool> m_bFailed{false};
    std::atomic<bool> m_bFinishing{false};
    std::atomic<bool> m_bStop{false};
};
