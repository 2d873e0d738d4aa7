#include "cli/MqttPublisher.h"

#include <mosquitto.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

#include "protocol/Address.h"

namespace {

using namespace std::chrono_literals;

constexpr int kQos = 1;
constexpr int kKeepAliveSeconds = 30;
constexpr std::chrono::seconds kMaxBackoff{30};
// The client's I/O in the last steps of the end, and the longest wait for its socket otherwise: the
// connection's upkeep (keep-alive) is looked after at least this often. A new message wakes the
// thread at once.
constexpr int kLoopMs = 50;
constexpr int kIdleMs = 1000;
// At the end, what is queued gets this long to reach a broker that is there, and "offline" this
// long after it.
constexpr auto kFinishBudget = 5s;
constexpr auto kOfflineBudget = 1s;
// How long the broker is given to send the retained copy of a message whose acknowledgement was
// lost; none by then: the broker never had it.
constexpr auto kCheckBudget = 2s;
constexpr std::string_view kOnline = "online";
constexpr std::string_view kOffline = "offline";
// The connack codes of MQTT 3.1.1 for a login the broker refuses.
constexpr int kConnackBadLogin = 4;
constexpr int kConnackNotAuthorised = 5;
constexpr int kConnackUnavailable = 3;

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

} // namespace

std::unique_ptr<IRowPublisher> CreateRowPublisher(const PublishSettings& settings, FILE* err,
                                                  std::string& error) {
    static LibraryInit s_library;
    std::optional<std::string> password;
    if (!ReadPassword(settings, password, error)) {
        return nullptr;
    }
    auto publisher = std::make_unique<CMqttPublisher>(settings, std::move(password), err);
    if (!publisher->Start(error)) {
        return nullptr;
    }
    return publisher;
}

CMqttPublisher::CMqttPublisher(PublishSettings settings, std::optional<std::string> password,
                               FILE* err)
    : m_settings(std::move(settings)), m_password(std::move(password)), m_pErr(err) {}

CMqttPublisher::~CMqttPublisher() {
    Finish();
    if (m_pMosq != nullptr) {
        mosquitto_destroy(m_pMosq);
    }
}

std::string CMqttPublisher::Where() const {
    const bool bIpv6 = m_settings.host.find(':') != std::string::npos;
    return (bIpv6 ? "[" + m_settings.host + "]" : m_settings.host) + ":" +
           std::to_string(m_settings.port);
}

void CMqttPublisher::Say(const std::string& text) {
    std::fprintf(m_pErr, "qd7-bus: mqtt: %s\n", text.c_str());
    std::fflush(m_pErr);
}

bool CMqttPublisher::Start(std::string& error) {
    m_pMosq = mosquitto_new(nullptr, true, this);
    if (m_pMosq == nullptr) {
        error = "--publish: the MQTT client cannot be made";
        return false;
    }
    if (!Configure(error)) {
        return false;
    }
    m_fdWake.Reset(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!m_fdWake.IsValid()) {
        error = "--publish: no event descriptor for the MQTT thread";
        return false;
    }
    m_tNextAttempt = Clock::now();
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CMqttPublisher::Renew() {
    m_bRenew = false;
    mosquitto_reinitialise(m_pMosq, nullptr, true, this);
    std::string error;
    if (!Configure(error)) {
        Fail(error);
    }
}

bool CMqttPublisher::Configure(std::string& error) {
    mosquitto_int_option(m_pMosq, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    mosquitto_connect_callback_set(m_pMosq, OnConnect);
    mosquitto_disconnect_callback_set(m_pMosq, OnDisconnect);
    mosquitto_publish_callback_set(m_pMosq, OnPublish);
    mosquitto_message_callback_set(m_pMosq, OnMessage);
    const std::string statusTopic = m_settings.prefix + "/status";
    if (mosquitto_will_set(m_pMosq, statusTopic.c_str(), static_cast<int>(kOffline.size()),
                           kOffline.data(), kQos, true) != MOSQ_ERR_SUCCESS) {
        error = "--publish: the topic " + statusTopic + " is not allowed";
        return false;
    }
    if (!m_settings.user.empty() &&
        mosquitto_username_pw_set(m_pMosq, m_settings.user.c_str(),
                                  m_password ? m_password->c_str() : nullptr) != MOSQ_ERR_SUCCESS) {
        error = "--publish: the login cannot be set";
        return false;
    }
    if (m_settings.bTls) {
        // The system's certificates unless --ca-file names others; the broker's name is checked.
        const char* pszCaFile = m_settings.caFile.empty() ? nullptr : m_settings.caFile.c_str();
        const char* pszCaPath = pszCaFile == nullptr ? "/etc/ssl/certs" : nullptr;
        const int rc = mosquitto_tls_set(m_pMosq, pszCaFile, pszCaPath, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "--ca-file: " + m_settings.caFile + ": " + mosquitto_strerror(rc);
            return false;
        }
    }
    return true;
}

void CMqttPublisher::Publish(const Reading& reading) {
    const std::string meter = m_settings.prefix + "/" + FormatAddress(reading.address);
    Enqueue({meter + "/" + reading.registerCode, Payload(reading), true});
    if (!IsAddress(reading.address)) {
        return;
    }
    // The meter's status, when it changed: retained, so a dashboard shows it at once.
    const int status = static_cast<int>(reading.status) + 1;
    int& last = m_aLastStatus[static_cast<size_t>(reading.address)];
    if (last != status) {
        last = status;
        Enqueue({meter + "/status", std::string(StatusName(reading.status)), false});
    }
}

void CMqttPublisher::Enqueue(Message message) {
    {
        const std::lock_guard lock(m_mutex);
        if (message.bReading && m_nReadingsQueued >= m_settings.nQueue) {
            // The oldest reading not yet in flight goes: the newest matter most to a plant, and
            // a retained topic keeps the last one.
            const auto start = m_queue.begin() + (m_inflight ? 1 : 0);
            const auto oldest =
                std::find_if(start, m_queue.end(), [](const Message& m) { return m.bReading; });
            if (oldest != m_queue.end()) {
                m_queue.erase(oldest);
                --m_nReadingsQueued;
                if (m_nDropped++ == 0) {
                    Say("the queue is full (" + std::to_string(m_settings.nQueue) +
                        " readings): the oldest are dropped until the broker is back");
                }
            }
        }
        m_nReadingsQueued += message.bReading ? 1 : 0;
        m_queue.push_back(std::move(message));
    }
    Wake();
}

void CMqttPublisher::Wake() {
    m_wake.notify_one();
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_fdWake.Get(), &one, sizeof one);
}

int CMqttPublisher::Loop(int timeoutMs) {
    const int fd = mosquitto_socket(m_pMosq);
    if (fd < 0) {
        return MOSQ_ERR_NO_CONN;
    }
    const auto events = static_cast<short>(POLLIN | (mosquitto_want_write(m_pMosq) ? POLLOUT : 0));
    std::array<pollfd, 2> fds{{{fd, events, 0}, {m_fdWake.Get(), POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
        return MOSQ_ERR_ERRNO;
    }
    if ((fds[1].revents & POLLIN) != 0) {
        uint64_t count = 0;
        [[maybe_unused]] const ssize_t n = ::read(m_fdWake.Get(), &count, sizeof count);
    }
    int rc = MOSQ_ERR_SUCCESS;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        rc = mosquitto_loop_read(m_pMosq, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(m_pMosq) >= 0 && mosquitto_want_write(m_pMosq)) {
        rc = mosquitto_loop_write(m_pMosq, 1);
    }
    return rc == MOSQ_ERR_SUCCESS ? mosquitto_loop_misc(m_pMosq) : rc;
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
    m_bStop = true;
}

void CMqttPublisher::Lost(const std::string& why) {
    const bool bWasConnected = m_bConnected;
    m_bConnected = false;
    m_bConnecting = false;
    m_bRenew = true;
    m_bChecking = false;
    {
        const std::lock_guard lock(m_mutex);
        if (m_inflight) {
            m_inflight.reset();
            m_bHeadUncertain = true;
        }
    }
    if (m_bFailed) {
        return;
    }
    m_tNextAttempt = Clock::now() + m_backoff;
    if (!m_bLossSaid && !m_bFinishing) {
        m_bLossSaid = true;
        Say(Where() + ": " + (bWasConnected ? "connection lost" : "cannot connect") + " (" + why +
            "); readings are kept, up to " + std::to_string(m_settings.nQueue) +
            ", and sent once it is there");
    }
    m_backoff = std::min(m_backoff * 2, kMaxBackoff);
}

void CMqttPublisher::OnConnect(mosquitto*, void* pSelf, int rc) {
    auto* self = static_cast<CMqttPublisher*>(pSelf);
    self->m_bConnecting = false;
    if (rc == kConnackBadLogin || rc == kConnackNotAuthorised) {
        self->Fail(self->Where() + ": the broker refused the login (" +
                   mosquitto_connack_string(rc) + ")");
        return;
    }
    if (rc != 0) {
        if (rc != kConnackUnavailable) {
            self->Fail(self->Where() + ": the broker refused the connection (" +
                       mosquitto_connack_string(rc) + ")");
            return;
        }
        self->Lost(mosquitto_connack_string(rc));
        return;
    }
    self->m_bConnected = true;
    self->m_backoff = 1s;
    size_t nDropped = 0;
    {
        const std::lock_guard lock(self->m_mutex);
        nDropped = std::exchange(self->m_nDropped, 0);
    }
    if (self->m_bLossSaid) {
        self->Say(self->Where() + ": connected" +
                  (nDropped > 0 ? "; " + std::to_string(nDropped) +
                                      " readings were dropped while the broker was away"
                                : std::string()));
    }
    self->m_bLossSaid = false;
    self->m_bEverConnected = true;
    const std::string topic = self->m_settings.prefix + "/status";
    mosquitto_publish(self->m_pMosq, nullptr, topic.c_str(), static_cast<int>(kOnline.size()),
                      kOnline.data(), kQos, true);
    if (self->m_bHeadUncertain) {
        std::string headTopic;
        {
            const std::lock_guard lock(self->m_mutex);
            headTopic = self->m_queue.empty() ? std::string() : self->m_queue.front().topic;
        }
        if (headTopic.empty() ||
            mosquitto_subscribe(self->m_pMosq, nullptr, headTopic.c_str(), 0) != MOSQ_ERR_SUCCESS) {
            self->m_bHeadUncertain = false;
            return;
        }
        self->m_bChecking = true;
        self->m_tCheckUntil = Clock::now() + kCheckBudget;
    }
}

void CMqttPublisher::OnMessage(mosquitto*, void* pSelf, const mosquitto_message* pMessage) {
    auto* self = static_cast<CMqttPublisher*>(pSelf);
    if (!self->m_bChecking || !pMessage->retain) {
        return;
    }
    bool bSame = false;
    {
        const std::lock_guard lock(self->m_mutex);
        if (self->m_queue.empty() || self->m_queue.front().topic != pMessage->topic) {
            return;
        }
        const Message& head = self->m_queue.front();
        bSame = head.payload == std::string_view(static_cast<const char*>(pMessage->payload),
                                                 static_cast<size_t>(pMessage->payloadlen));
    }
    self->EndCheck(bSame);
}

void CMqttPublisher::EndCheck(bool bBrokerHadIt) {
    m_bChecking = false;
    m_bHeadUncertain = false;
    const std::lock_guard lock(m_mutex);
    if (m_queue.empty()) {
        return;
    }
    mosquitto_unsubscribe(m_pMosq, nullptr, m_queue.front().topic.c_str());
    if (bBrokerHadIt) {
        m_nReadingsQueued -= m_queue.front().bReading ? 1 : 0;
        m_queue.pop_front();
    }
}

void CMqttPublisher::OnDisconnect(mosquitto*, void* pSelf, int rc) {
    auto* self = static_cast<CMqttPublisher*>(pSelf);
    if (rc != 0) {
        self->Lost(mosquitto_strerror(rc));
    } else {
        self->m_bConnected = false;
    }
}

void CMqttPublisher::OnPublish(mosquitto*, void* pSelf, int mid) {
    auto* self = static_cast<CMqttPublisher*>(pSelf);
    const std::lock_guard lock(self->m_mutex);
    if (self->m_inflight != mid || self->m_queue.empty()) {
        return; // "online" or "offline"
    }
    self->m_nReadingsQueued -= self->m_queue.front().bReading ? 1 : 0;
    self->m_queue.pop_front();
    self->m_inflight.reset();
}

void CMqttPublisher::SendNext() {
    std::unique_lock lock(m_mutex);
    if (m_inflight || m_queue.empty()) {
        return;
    }
    const Message& next = m_queue.front();
    int mid = 0;
    const int rc =
        mosquitto_publish(m_pMosq, &mid, next.topic.c_str(), static_cast<int>(next.payload.size()),
                          next.payload.data(), kQos, true);
    if (rc == MOSQ_ERR_SUCCESS) {
        m_inflight = mid;
    }
}

void CMqttPublisher::Step() {
    if (m_bRenew) {
        Renew();
    }
    if (m_bChecking && Clock::now() >= m_tCheckUntil) {
        EndCheck(false); // no retained copy came: the broker never had it
    }
    if (!m_bConnected && !m_bConnecting && Clock::now() >= m_tNextAttempt) {
        errno = 0;
        const int rc = mosquitto_connect_async(m_pMosq, m_settings.host.c_str(), m_settings.port,
                                               kKeepAliveSeconds);
        if (rc == MOSQ_ERR_SUCCESS) {
            m_bConnecting = true;
        } else {
            Lost(rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc));
        }
    }
    if (m_bConnected || m_bConnecting) {
        // Connected and nothing to send: the thread sleeps until the broker or a new message
        // wakes it.
        const int rc = Loop(m_bConnected ? kIdleMs : kLoopMs);
        if (rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE) {
            Fail(Where() + ": TLS failed (the broker's certificate is not trusted, or its name "
                           "differs); see --ca-file");
            return;
        }
        if (rc != MOSQ_ERR_SUCCESS && (m_bConnected || m_bConnecting)) {
            Lost(rc == MOSQ_ERR_ERRNO ? std::string(std::strerror(errno)) : mosquitto_strerror(rc));
        }
        if (m_bConnected && !m_bChecking) {
            SendNext();
        }
        return;
    }
    // Away: until the next attempt is due, or the end.
    std::unique_lock lock(m_mutex);
    m_wake.wait_until(lock,
                      std::min(m_tNextAttempt, Clock::now() + std::chrono::milliseconds(kIdleMs)));
}

void CMqttPublisher::Run() {
    // Queued in order; a reading waits at most one loop for the thread.
    while (!m_bStop) {
        if (m_bFinishing) {
            const std::lock_guard lock(m_mutex);
            if (m_queue.empty()) {
                break;
            }
        }
        Step();
    }
}

void CMqttPublisher::Finish() {
    if (!m_thread.joinable()) {
        return;
    }
    // What is queued gets a few seconds to go out while the broker is there.
    m_bFinishing = true;
    const auto deadline = Clock::now() + kFinishBudget;
    while (Clock::now() < deadline && (m_bConnected || m_bConnecting)) {
        {
            const std::lock_guard lock(m_mutex);
            if (m_queue.empty() || m_bFailed) {
                break;
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kLoopMs));
    }
    m_bStop = true;
    Wake();
    m_thread.join();
    size_t nLeft = 0;
    {
        const std::lock_guard lock(m_mutex);
        nLeft = m_nReadingsQueued;
    }
    if (nLeft > 0 && !m_bFailed) {
        Say(std::to_string(nLeft) + " readings were not sent: the broker was away at the end");
    }
    if (m_bConnected) {
        // Gone by our own choice: "offline" now, as the will would say it had we died.
        int mid = 0;
        const std::string topic = m_settings.prefix + "/status";
        bool bAcknowledged = false;
        m_inflight.reset();
        if (mosquitto_publish(m_pMosq, &mid, topic.c_str(), static_cast<int>(kOffline.size()),
                              kOffline.data(), kQos, true) == MOSQ_ERR_SUCCESS) {
            {
                const std::lock_guard lock(m_mutex);
                m_queue.push_front({topic, std::string(kOffline), false});
                m_inflight = mid;
            }
            const auto until = Clock::now() + kOfflineBudget;
            while (!bAcknowledged && Clock::now() < until &&
                   mosquitto_loop(m_pMosq, kLoopMs, 1) == MOSQ_ERR_SUCCESS) {
                const std::lock_guard lock(m_mutex);
                bAcknowledged = !m_inflight;
            }
        }
        mosquitto_disconnect(m_pMosq);
        mosquitto_loop(m_pMosq, kLoopMs, 1);
    }
}
