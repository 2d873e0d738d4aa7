#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cli/MqttConnection.h"
#include "cli/PublishAccounts.h"
#include "cli/PublishQueue.h"
#include "cli/PublishSpool.h"
#include "cli/RowPublisher.h"
#include "protocol/FrameCodec.h"
#include "serial/UniqueFd.h"

// The rows to an MQTT broker, all of it on a thread of its own, so that a broker that is slow or
// away never holds the bus; its pieces are the queue (CPublishQueue), the connection
// (CMqttConnection), the accounts of every reading (CPublishAccounts) and the spool
// (CPublishSpool).
//
// Each reading goes to PREFIX/<address>/<register> as its json row, QoS 2 (the broker takes it
// exactly once), retained when it has a value, so a subscriber that comes later sees the last
// good reading at once; a reading without one (silent, corrupt ...) is published but not
// retained. PREFIX/<address>/status carries the meter's status when it changes, retained;
// PREFIX/status is "online" while qd7-bus runs and "offline" when it ends, or by the broker's last
// will when it dies. The retained status topics (and the discovery configs) are published again
// after every connect, since a broker restarted without persistence has forgotten them.
//
// Up to --inflight messages are handed to the broker before the first is acknowledged, so the
// throughput is the bus's, not one round trip per reading. While the broker is away, or slower
// than the bus, the rest wait in the queue, up to --queue; beyond, the oldest readings are
// dropped, counted as they go and said on stderr. The connection is tried again after 1, 2, 4 ...
// up to 30 s; a login or TLS refusal at the first connect ends the watch (exit 5), later ones are
// said and tried again like an absence, and the end's exit code tells.
class CMqttPublisher final : public IRowPublisher {
public:
    CMqttPublisher(PublishSettings settings, std::optional<std::string> password, FILE* err);
    ~CMqttPublisher() override;
    CMqttPublisher(const CMqttPublisher&) = delete;
    CMqttPublisher& operator=(const CMqttPublisher&) = delete;

    // Sets the client up and starts the thread, with the readings an earlier run left in
    // `pSpool` first (none without a spool). False with `error` set.
    bool Start(std::unique_ptr<CPublishSpool> pSpool, std::deque<QueuedMessage> spooled,
               std::string& error);

    void Publish(const Reading& reading) override;
    bool Failed() const override { return m_bFailed.load(); }
    std::string Failure() const override;
    void Finish() override;
    bool Incomplete() const override;

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // One turn of the thread: connect when due, hand out messages, the connection's I/O.
    void Step();
    void HandOut();
    void OnEvent(const CMqttConnection::Event& event);
    void OnConnected();
    void OnAcknowledged(int mid, int reason);
    // Not connected: after a loss, a refusal or a failed attempt.
    void OnAway(const std::string& why, bool bLoginOrTls);
    // A message of our own (availability, a status again, a discovery config): not a reading,
    // not queued; a refusal is said.
    void PublishControl(const std::string& topic, const std::string& payload, bool bRetain);
    // The messages that a connect publishes again, and new discovery configs.
    void PublishKept();
    bool EndReached();
    void End();
    // Under m_mutex: into the queue, the spool, and the accounts.
    void Enqueue(QueuedMessage message);
    void Done(const QueuedMessage& message);
    void Say(const std::string& text);
    void Fail(const std::string& why);
    void Wake();

    PublishSettings m_settings;
    FILE* m_pErr;
    CMqttConnection m_connection;
    std::unique_ptr<CPublishSpool> m_pSpool;
    std::thread m_thread;
    CUniqueFd m_fdWake; // eventfd: a new message or the end wakes the thread

    mutable std::mutex m_mutex; // what the bus thread shares: the queue, the accounts, the spool
    CPublishQueue m_queue;
    CPublishAccounts m_accounts;
    std::string m_strFailure;
    std::array<int, kAddressCount> m_aStatus{}; // per meter, the last status queued (+1); 0: none
    std::vector<std::pair<int, std::string>> m_vecSensors; // meters and registers seen
    bool m_bSpoolFailureSaid = false;

    // The thread's own.
    std::unordered_map<int, uint64_t> m_mapInFlight;   // message id -> queued message
    std::unordered_map<int, std::string> m_mapControl; // message id -> topic of our own
    size_t m_nSensorsPublished = 0;                    // discovery configs on this connection
    bool m_bEverConnected = false;
    bool m_bAwaySaid = false;
    bool m_bTroubleSaid = false;
    bool m_bFallbackSaid = false;
    Clock::time_point m_tNextAttempt;
    Clock::time_point m_tConnectDeadline;
    Clock::time_point m_tAwaySince;
    Clock::time_point m_tLastSync;
    std::chrono::seconds m_backoff{1};
    // The end: when it began, and the last acknowledgement since.
    bool m_bEnding = false;
    Clock::time_point m_tEndStart;
    Clock::time_point m_tLastProgress;
    bool m_bEndSaid = false;

    std::atomic<bool> m_bConnected{false}; // read by the bus thread for its words on a full queue
    std::atomic<bool> m_bFailed{false};
    std::atomic<bool> m_bFinishing{false};
    std::atomic<bool> m_bIncomplete{false};
};
