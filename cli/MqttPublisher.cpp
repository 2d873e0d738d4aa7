#include "cli/MqttPublisher.h"

#include <mosquitto.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <utility>

#include "cli/HaDiscovery.h"
#include "cli/MqttWords.h"
#include "cli/PublishFiles.h"
#include "protocol/Address.h"

namespace {

using namespace std::chrono_literals;

constexpr int kReadingQos = 2;
// A broker of MQTT 3.1.1 does not say how many QoS 2 messages it takes at once, and one that is
// handed more (mosquitto: 20 by default) acknowledges the rest without keeping them: it gets no
// more than this at a time.
constexpr size_t kWindow311 = 10;
constexpr int kControlQos = 1;
constexpr std::chrono::seconds kMaxBackoff{30};
// The longest wait of the thread: the connection's upkeep (keep-alive) is looked after at least
// this often. A new message wakes it at once.
constexpr auto kIdle = 1000ms;
constexpr auto kSyncEvery = 100ms; // the spool's batches
constexpr std::chrono::seconds kMaxConnectWait{10};
// At the end, what is queued is sent while the broker takes it: until 5 s pass without an
// acknowledgement, 30 s at most; with a spool, what is left waits there for the next start.
constexpr auto kEndWithoutProgress = 5s;
constexpr auto kEndAtMost = 30s;
constexpr auto kEndSayAfter = 1s;
constexpr auto kOfflineBudget = 1s;
constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";

// libmosquitto's own state is made once per process.
struct LibraryInit {
    LibraryInit() { mosquitto_lib_init(); }
    ~LibraryInit() { mosquitto_lib_cleanup(); }
};

// A row's json without its newline.
std::string Payload(const Reading& reading) {
    std::string row = JsonRow(reading);
    if (!row.empty() && row.back() == '\n') {
        row.pop_back();
    }
    return row;
}

int Milliseconds(std::chrono::steady_clock::duration d) {
    return static_cast<int>(
        std::clamp<int64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count(), 0,
                            std::chrono::duration_cast<std::chrono::milliseconds>(kIdle).count()));
}

bool Taken(int reason) {
    return reason < kReasonFailure || reason == kReasonPacketIdNotFound;
}

} // namespace

std::unique_ptr<IRowPublisher> CreateRowPublisher(const PublishSettings& settings, FILE* err,
                                                  const std::atomic<bool>& stop,
                                                  std::string& error) {
    static LibraryInit s_library;
    std::optional<std::string> password;
    std::string note;
    if (!ReadPassword(settings, stop, password, note, error)) {
        return nullptr;
    }
    if (!note.empty()) {
        std::fprintf(err, "qd7-bus: mqtt: %s\n", note.c_str());
    }
    if (settings.bTls && !settings.caFile.empty() && !CheckCaFile(settings.caFile, error)) {
        return nullptr;
    }
    std::unique_ptr<CPublishSpool> pSpool;
    std::deque<QueuedMessage> spooled;
    if (!settings.spoolFile.empty()) {
        pSpool = std::make_unique<CPublishSpool>();
        if (!pSpool->Open(settings.spoolFile, spooled, note, error)) {
            return nullptr;
        }
        if (!note.empty()) {
            std::fprintf(err, "qd7-bus: mqtt: %s\n", note.c_str());
        }
    }
    auto publisher = std::make_unique<CMqttPublisher>(settings, std::move(password), err);
    if (!publisher->Start(std::move(pSpool), std::move(spooled), error)) {
        return nullptr;
    }
    return publisher;
}

CMqttPublisher::CMqttPublisher(PublishSettings settings, std::optional<std::string> password,
                               FILE* err)
    : m_settings(std::move(settings)), m_pErr(err), m_connection(m_settings, std::move(password)),
      m_queue(m_settings.nQueue), m_accounts(m_settings.nQueue) {}

CMqttPublisher::~CMqttPublisher() {
    Finish();
}

void CMqttPublisher::Say(const std::string& text) {
    std::fprintf(m_pErr, "qd7-bus: mqtt: %s\n", text.c_str());
    std::fflush(m_pErr);
}

bool CMqttPublisher::Start(std::unique_ptr<CPublishSpool> pSpool, std::deque<QueuedMessage> spooled,
                           std::string& error) {
    if (!m_connection.Setup(error)) {
        return false;
    }
    m_fdWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_fdWake.IsValid()) {
        error = "--publish: no event descriptor for the MQTT thread";
        return false;
    }
    m_pSpool = std::move(pSpool);
    if (!spooled.empty()) {
        const std::lock_guard lock(m_mutex);
        const size_t nKept = spooled.size();
        // The spool is bounded by the queue: a smaller --queue than the last run's drops the
        // oldest.
        while (spooled.size() > m_settings.nQueue) {
            const std::string text = m_accounts.Dropped(false);
            if (!text.empty()) {
                Say(text);
            }
            m_pSpool->Done(spooled.front(), spooled);
            spooled.pop_front();
        }
        Say("the spool " + m_pSpool->Path() + " holds " + std::to_string(nKept) +
            " readings not yet sent by an earlier run: they go first");
        m_queue.Restore(std::move(spooled));
    }
    m_tNextAttempt = Clock::now();
    m_tLastSync = m_tNextAttempt;
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CMqttPublisher::Publish(const Reading& reading) {
    const std::string meter = m_settings.prefix + "/" + FormatAddress(reading.address);
    {
        const std::lock_guard lock(m_mutex);
        if (IsAddress(reading.address)) {
            // The meter's status, when it changed: retained, so a dashboard shows it at once.
            // It goes first: a reading without a value comes after the status that says why.
            const int status = static_cast<int>(reading.status) + 1;
            int& last = m_aStatus[static_cast<size_t>(reading.address)];
            if (last != status) {
                last = status;
                QueuedMessage message;
                message.kind = QueuedMessage::Kind::Status;
                message.address = reading.address;
                message.topic = meter + "/status";
                message.payload = StatusName(reading.status);
                message.bRetain = true;
                Enqueue(std::move(message));
            }
        }
        QueuedMessage message;
        message.topic = meter + "/" + reading.registerCode;
        message.payload = Payload(reading);
        // The retained message stays the last good value: one without a value goes to the
        // subscribers there now, and is not kept.
        message.bRetain = reading.status == ReplyStatus::Ok;
        Enqueue(std::move(message));
        if (m_settings.bHaDiscovery && IsAddress(reading.address)) {
            const std::pair<int, std::string> sensor(reading.address, reading.registerCode);
            if (std::find(m_vecSensors.begin(), m_vecSensors.end(), sensor) == m_vecSensors.end()) {
                m_vecSensors.push_back(sensor);
            }
        }
    }
    Wake();
}

void CMqttPublisher::Enqueue(QueuedMessage message) {
    const bool bReading = message.kind == QueuedMessage::Kind::Reading;
    std::optional<QueuedMessage> dropped = m_queue.Push(std::move(message));
    // The queue's newest is older than the one dropped when that was the new one itself.
    const bool bAdded = !dropped || (!m_queue.Empty() && m_queue.Back().nSeq > dropped->nSeq);
    if (bAdded && bReading && m_pSpool && m_pSpool->Append(m_queue.Back())) {
        m_queue.Back().bSpooled = true;
    }
    std::string text;
    if (dropped) {
        Done(*dropped);
        if (dropped->kind == QueuedMessage::Kind::Reading) {
            text = m_accounts.Dropped(m_bConnected.load());
        }
    } else if (bReading) {
        text = m_accounts.Queued();
    }
    if (!text.empty()) {
        Say(text);
    }
    if (m_pSpool && !m_bSpoolFailureSaid && m_pSpool->Failed()) {
        m_bSpoolFailureSaid = true;
        Say(m_pSpool->Failure());
    }
}

void CMqttPublisher::Done(const QueuedMessage& message) {
    if (message.bSpooled && m_pSpool) {
        m_pSpool->Done(message, m_queue.Messages());
    }
}

void CMqttPublisher::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fdWake.Get(), &one, sizeof one);
}

std::string CMqttPublisher::Failure() const {
    const std::lock_guard lock(m_mutex);
    return m_strFailure;
}

void CMqttPublisher::Fail(const std::string& why) {
    {
        const std::lock_guard lock(m_mutex);
        m_strFailure = why;
    }
    m_bFailed = true;
}

void CMqttPublisher::OnAway(const std::string& why, bool bLoginOrTls) {
    m_bConnected = false;
    const std::string where = m_connection.Where() + ": ";
    if (bLoginOrTls && !m_bEverConnected) {
        // Wrong at the start: no reading would ever arrive, so the watch ends at once.
        Fail(where + why);
        return;
    }
    const auto now = Clock::now();
    if (!m_bAwaySaid) {
        m_tAwaySince = now;
    }
    if (bLoginOrTls) {
        // The plant's log goes on; the end's exit code tells.
        {
            const std::lock_guard lock(m_mutex);
            m_accounts.NoteTrouble();
        }
        if (!m_bTroubleSaid) {
            m_bTroubleSaid = true;
            Say(where + why + "; the watch goes on, its readings are kept, up to " +
                std::to_string(m_settings.nQueue) + ", and it is tried again");
        }
    } else if (!m_bAwaySaid) {
        Say(where + why + "; readings are kept, up to " + std::to_string(m_settings.nQueue) +
            ", and sent once it is there");
    }
    m_bAwaySaid = true;
    m_tNextAttempt = now + m_backoff;
    m_backoff = std::min(m_backoff * 2, kMaxBackoff);
}

void CMqttPublisher::OnConnected() {
    const auto now = Clock::now();
    m_bEverConnected = true;
    m_bConnected = true;
    m_backoff = 1s;
    m_tLastProgress = now;
    if (m_bAwaySaid) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(now - m_tAwaySince);
        Say(m_connection.Where() + ": connected again after " + std::to_string(seconds.count()) +
            " s");
    }
    m_bAwaySaid = false;
    m_bTroubleSaid = false;
    // What a broker that lost its state needs again: availability and each meter's status (when
    // no newer one is on its way, which would otherwise come before it).
    PublishControl(m_settings.prefix + "/status", std::string(kOnline), true);
    std::vector<std::pair<std::string, std::string>> statuses;
    {
        const std::lock_guard lock(m_mutex);
        for (int address = 0; address < kAddressCount; ++address) {
            const int status = m_aStatus[static_cast<size_t>(address)];
            if (status != 0 && !m_queue.HasStatusOf(address)) {
                statuses.emplace_back(
                    m_settings.prefix + "/" + FormatAddress(address) + "/status",
                    std::string(StatusName(static_cast<ReplyStatus>(status - 1))));
            }
        }
    }
    for (const auto& [topic, payload] : statuses) {
        PublishControl(topic, payload, true);
    }
    m_nSensorsPublished = 0;
    PublishKept();
}

void CMqttPublisher::PublishKept() {
    std::vector<std::pair<int, std::string>> sensors;
    {
        const std::lock_guard lock(m_mutex);
        sensors.assign(m_vecSensors.begin() + static_cast<ptrdiff_t>(m_nSensorsPublished),
                       m_vecSensors.end());
    }
    for (const auto& [address, registerCode] : sensors) {
        const DiscoveryConfig config = HaDiscoveryConfig(m_settings, address, registerCode);
        PublishControl(config.topic, config.payload, true);
        ++m_nSensorsPublished;
    }
}

void CMqttPublisher::PublishControl(const std::string& topic, const std::string& payload,
                                    bool bRetain) {
    int mid = 0;
    const int rc = m_connection.Publish(topic, payload, kControlQos, bRetain, mid);
    if (rc == MOSQ_ERR_SUCCESS) {
        m_mapControl[mid] = topic;
    } else if (rc != MOSQ_ERR_NO_CONN) {
        const std::lock_guard lock(m_mutex);
        const std::string text = m_accounts.Refused(topic, MosquittoErrorText(rc, errno), false);
        if (!text.empty()) {
            Say(text);
        }
    }
}

void CMqttPublisher::OnAcknowledged(int mid, int reason) {
    m_tLastProgress = Clock::now();
    if (const auto control = m_mapControl.find(mid); control != m_mapControl.end()) {
        const std::string topic = control->second;
        m_mapControl.erase(control);
        if (!Taken(reason)) {
            const std::lock_guard lock(m_mutex);
            const std::string text = m_accounts.Refused(topic, ReasonText(reason), false);
            if (!text.empty()) {
                Say(text);
            }
        }
        return;
    }
    const auto inFlight = m_mapInFlight.find(mid);
    if (inFlight == m_mapInFlight.end()) {
        return;
    }
    const uint64_t nSeq = inFlight->second;
    m_mapInFlight.erase(inFlight);
    const std::lock_guard lock(m_mutex);
    const std::optional<QueuedMessage> message = m_queue.Take(nSeq);
    if (!message) {
        return;
    }
    const bool bReading = message->kind == QueuedMessage::Kind::Reading;
    if (Taken(reason)) {
        if (bReading) {
            m_accounts.Sent();
        }
    } else {
        const std::string text = m_accounts.Refused(message->topic, ReasonText(reason), bReading);
        if (!text.empty()) {
            Say(text);
        }
    }
    Done(*message);
}

void CMqttPublisher::OnEvent(const CMqttConnection::Event& event) {
    using Kind = CMqttConnection::Event::Kind;
    switch (event.kind) {
    case Kind::Connected:
        OnConnected();
        break;
    case Kind::Refused:
        OnAway(std::string(event.bLogin ? "the broker refused the login ("
                                        : "the broker refused the connection (") +
                   event.text + ")",
               event.bLogin);
        break;
    case Kind::Lost:
        // A TLS failure says so itself: "TLS failed: the broker's certificate ...".
        OnAway(event.bTls
                   ? event.text
                   : std::string(m_bConnected.load() ? "connection lost (" : "cannot connect (") +
                         event.text + ")",
               event.bTls);
        break;
    case Kind::Acknowledged:
        OnAcknowledged(event.mid, event.reason);
        break;
    case Kind::Fallback: {
        if (!m_bFallbackSaid) {
            m_bFallbackSaid = true;
            Say(m_connection.Where() +
                ": the broker speaks MQTT 3.1.1, not 5: a reading it refuses (its ACL) cannot be "
                "told from one it took");
        }
        // The new client has nothing of the old one's: what was in flight goes out again.
        const std::lock_guard lock(m_mutex);
        for (const auto& [mid, nSeq] : m_mapInFlight) {
            m_queue.Unsend(nSeq);
        }
        m_mapInFlight.clear();
        m_mapControl.clear();
        m_tNextAttempt = Clock::now();
        break;
    }
    }
}

void CMqttPublisher::HandOut() {
    const std::lock_guard lock(m_mutex);
    size_t nWindow = std::min(static_cast<size_t>(m_settings.nInflight), m_settings.nQueue);
    if (m_connection.Is311()) {
        nWindow = std::min(nWindow, kWindow311);
    }
    while (QueuedMessage* pNext = m_queue.NextToSend(nWindow)) {
        const bool bReading = pNext->kind == QueuedMessage::Kind::Reading;
        int mid = 0;
        const int rc =
            m_connection.Publish(pNext->topic, pNext->payload, bReading ? kReadingQos : kControlQos,
                                 pNext->bRetain, mid);
        if (rc == MOSQ_ERR_SUCCESS) {
            m_mapInFlight[mid] = pNext->nSeq;
            continue;
        }
        if (rc == MOSQ_ERR_NO_CONN) {
            m_queue.Unsend(pNext->nSeq);
            break;
        }
        // The message itself is what the broker cannot take (too large, a QoS or retained
        // message it does not support): it is refused, not kept.
        const int nErrno = errno;
        const std::optional<QueuedMessage> refused = m_queue.Take(pNext->nSeq);
        const std::string text =
            m_accounts.Refused(refused->topic, MosquittoErrorText(rc, nErrno), bReading);
        Done(*refused);
        if (!text.empty()) {
            Say(text);
        }
    }
}

void CMqttPublisher::Step() {
    uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(m_fdWake.Get(), &count, sizeof count);
    auto now = Clock::now();
    if (!m_connection.IsConnected() && !m_connection.IsConnecting() && now >= m_tNextAttempt) {
        m_tConnectDeadline =
            now + std::min(std::chrono::seconds(m_settings.nKeepAliveSeconds), kMaxConnectWait);
        m_connection.Connect();
    } else if (m_connection.IsConnecting() && now >= m_tConnectDeadline) {
        m_connection.Abort("no answer within " +
                           std::to_string(std::min(m_settings.nKeepAliveSeconds,
                                                   static_cast<int>(kMaxConnectWait.count()))) +
                           " s");
    }
    if (m_connection.IsConnected()) {
        HandOut();
        PublishKept();
    }
    if (m_pSpool && now - m_tLastSync >= kSyncEvery) {
        m_pSpool->Sync();
        m_tLastSync = now;
    }
    auto until = now + kIdle;
    if (m_connection.IsConnecting()) {
        until = std::min(until, m_tConnectDeadline);
    } else if (!m_connection.IsConnected()) {
        until = std::min(until, m_tNextAttempt);
    }
    if (m_bFinishing) {
        until = std::min(until, now + kEndSayAfter / 4);
    }
    if (m_pSpool && m_pSpool->Dirty()) {
        until = std::min(until, m_tLastSync + kSyncEvery); // the batch goes to disk in time
    }
    m_connection.Loop(Milliseconds(until - now), m_fdWake.Get());
    for (const CMqttConnection::Event& event : m_connection.TakeEvents()) {
        OnEvent(event);
    }
    m_bConnected = m_connection.IsConnected();
}

bool CMqttPublisher::EndReached() {
    const auto now = Clock::now();
    size_t nLeft = 0;
    {
        const std::lock_guard lock(m_mutex);
        nLeft = m_queue.Readings();
        if (m_queue.Empty()) {
            return true;
        }
    }
    const bool bAway = !m_connection.IsConnected() && !m_connection.IsConnecting();
    // With a spool, what is left waits there: the end tries the broker once.
    if (m_pSpool && bAway) {
        return m_tNextAttempt > m_tEndStart;
    }
    if (now - m_tLastProgress > kEndWithoutProgress || now - m_tEndStart > kEndAtMost) {
        return true;
    }
    if (!m_bEndSaid && now - m_tEndStart > kEndSayAfter) {
        m_bEndSaid = true;
        Say(std::to_string(nLeft) + " readings still to send: waiting for the broker (" +
            std::to_string(std::chrono::seconds(kEndWithoutProgress).count()) +
            " s without an acknowledgement, " +
            std::to_string(std::chrono::seconds(kEndAtMost).count()) + " s at most)");
    }
    return false;
}

void CMqttPublisher::Run() {
    while (!m_bFailed) {
        if (m_bFinishing && !m_bEnding) {
            // The end: a back-off is cut short, the queue gets its seconds.
            m_bEnding = true;
            m_tEndStart = Clock::now();
            m_tLastProgress = m_tEndStart;
            if (!m_connection.IsConnected() && !m_connection.IsConnecting()) {
                m_tNextAttempt = m_tEndStart;
            }
        }
        if (m_bEnding && EndReached()) {
            break;
        }
        Step();
    }
    End();
}

void CMqttPublisher::End() {
    if (m_connection.IsConnected()) {
        // Gone by our own choice: "offline" now, as the will would say it had we died.
        PublishControl(m_settings.prefix + "/status", std::string(kOffline), true);
        const auto until = Clock::now() + kOfflineBudget;
        while (m_connection.IsConnected() && !m_mapControl.empty() && Clock::now() < until) {
            m_connection.Loop(Milliseconds(until - Clock::now()), m_fdWake.Get());
            for (const CMqttConnection::Event& event : m_connection.TakeEvents()) {
                OnEvent(event);
            }
        }
        m_connection.Disconnect();
    }
    if (m_pSpool) {
        m_pSpool->Sync();
    }
}

void CMqttPublisher::Finish() {
    if (!m_thread.joinable()) {
        return;
    }
    m_bFinishing = true;
    Wake();
    m_thread.join();
    const std::lock_guard lock(m_mutex);
    size_t nUnsent = 0;
    size_t nSpooled = 0;
    for (const QueuedMessage& message : m_queue.Messages()) {
        if (message.kind == QueuedMessage::Kind::Reading) {
            ++(message.bSpooled ? nSpooled : nUnsent);
        }
    }
    if (!m_bFailed) {
        Say(m_accounts.Summary(nUnsent, nSpooled, m_pSpool ? m_pSpool->Path() : std::string()));
    }
    m_bIncomplete = m_bFailed || m_accounts.Incomplete(nUnsent);
}

bool CMqttPublisher::Incomplete() const {
    return m_bIncomplete.load();
}
