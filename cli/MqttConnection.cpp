#include "cli/MqttConnection.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <poll.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <memory>
#include <random>
#include <string_view>
#include <utility>

#include "cli/MqttWords.h"

namespace {

// The broker keeps the session this long after the connection is lost: long enough for any
// outage the back-off waits through, so that a message whose release (PUBREL) was on its way
// completes once the connection is back. An orderly end sets it to 0.
constexpr uint32_t kSessionExpirySeconds = 24 * 60 * 60;
constexpr std::string_view kOffline = "offline";
constexpr int kWillQos = 1;
constexpr size_t kClientIdRandom = 16;

// A client identifier of our own for the run: MQTT 3.1.1 brokers must take 23 characters of
// letters and digits, and a new one is a new session.
std::string NewClientId() {
    constexpr std::string_view kAlphabet =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    std::random_device random;
    std::uniform_int_distribution<size_t> pick(0, kAlphabet.size() - 1);
    std::string id = "qd7bus";
    for (size_t i = 0; i < kClientIdRandom; ++i) {
        id += kAlphabet[pick(random)];
    }
    return id;
}

bool IsTlsError(int rc) {
    return rc == MOSQ_ERR_TLS || rc == MOSQ_ERR_TLS_HANDSHAKE;
}

struct PropertiesDeleter {
    void operator()(mosquitto_property* p) const { mosquitto_property_free_all(&p); }
};
using Properties = std::unique_ptr<mosquitto_property, PropertiesDeleter>;

Properties SessionExpiry(uint32_t seconds) {
    mosquitto_property* p = nullptr;
    mosquitto_property_add_int32(&p, MQTT_PROP_SESSION_EXPIRY_INTERVAL, seconds);
    return Properties(p);
}

} // namespace

CMqttConnection::CMqttConnection(const PublishSettings& settings,
                                 std::optional<std::string> password)
    : m_settings(settings), m_password(std::move(password)), m_strClientId(NewClientId()) {}

CMqttConnection::~CMqttConnection() {
    if (m_pMosq != nullptr) {
        mosquitto_destroy(m_pMosq);
    }
}

std::string CMqttConnection::Where() const {
    const bool bIpv6 = m_settings.host.find(':') != std::string::npos;
    return (bIpv6 ? "[" + m_settings.host + "]" : m_settings.host) + ":" +
           std::to_string(m_settings.port);
}

bool CMqttConnection::Setup(std::string& error) {
    // A session kept by the broker (clean start off): what is in flight when the connection
    // drops is completed, not lost, once it is back.
    m_pMosq = mosquitto_new(m_strClientId.c_str(), false, this);
    if (m_pMosq == nullptr) {
        error = "--publish: the MQTT client cannot be made";
        return false;
    }
    return Configure(error);
}

bool CMqttConnection::Configure(std::string& error) {
    mosquitto_int_option(m_pMosq, MOSQ_OPT_PROTOCOL_VERSION,
                         m_bProtocol311 ? MQTT_PROTOCOL_V311 : MQTT_PROTOCOL_V5);
    // Our messages go as they are handed over: the publisher's window bounds them.
    mosquitto_int_option(m_pMosq, MOSQ_OPT_SEND_MAXIMUM, m_settings.nInflight);
    mosquitto_int_option(m_pMosq, MOSQ_OPT_TCP_NODELAY, 1);
    mosquitto_connect_v5_callback_set(m_pMosq, OnConnect);
    mosquitto_disconnect_v5_callback_set(m_pMosq, OnDisconnect);
    mosquitto_publish_v5_callback_set(m_pMosq, OnPublish);
    mosquitto_log_callback_set(m_pMosq, OnLog);
    const std::string statusTopic = m_settings.prefix + "/status";
    if (mosquitto_will_set(m_pMosq, statusTopic.c_str(), static_cast<int>(kOffline.size()),
                           kOffline.data(), kWillQos, true) != MOSQ_ERR_SUCCESS) {
        error = "--publish: the topic " + statusTopic + " is not allowed";
        return false;
    }
    if (!m_settings.user.empty() &&
        mosquitto_username_pw_set(m_pMosq, m_settings.user.c_str(),
                                  m_password ? m_password->c_str() : nullptr) != MOSQ_ERR_SUCCESS) {
        error = "--publish: the user name is not valid UTF-8";
        return false;
    }
    if (m_settings.bTls) {
        // The system's certificates unless --ca-file names others; the broker's name is checked.
        const char* pszCaFile = m_settings.caFile.empty() ? nullptr : m_settings.caFile.c_str();
        const char* pszCaPath = pszCaFile == nullptr ? "/etc/ssl/certs" : nullptr;
        const int rc = mosquitto_tls_set(m_pMosq, pszCaFile, pszCaPath, nullptr, nullptr, nullptr);
        if (rc != MOSQ_ERR_SUCCESS) {
            error = "--ca-file " + m_settings.caFile + ": " + MosquittoErrorText(rc, errno);
            return false;
        }
    }
    if (!m_bProtocol311) {
        // libmosquitto 2.0 has no asynchronous connect that takes CONNECT properties, but its
        // blocking one keeps them for every later connect, and stores them before it checks its
        // arguments: called with a keep-alive it refuses, it keeps the session expiry and
        // connects nowhere (a blocking connect could hang for minutes on an address that does
        // not answer).
        const Properties expiry = SessionExpiry(kSessionExpirySeconds);
        mosquitto_connect_bind_v5(m_pMosq, m_settings.host.c_str(), m_settings.port, 1, nullptr,
                                  expiry.get());
    }
    m_bFirstAttempt = true;
    return true;
}

void CMqttConnection::Emit(Event event) {
    m_vecEvents.push_back(std::move(event));
}

std::vector<CMqttConnection::Event> CMqttConnection::TakeEvents() {
    return std::exchange(m_vecEvents, {});
}

std::string CMqttConnection::ErrorText(int rc, int nErrno) const {
    std::string text = MosquittoErrorText(rc, nErrno);
    if (IsTlsError(rc) && !m_strTlsDetail.empty()) {
        text += ": " + m_strTlsDetail;
    }
    return text;
}

void CMqttConnection::Lose(const std::string& why, bool bTls) {
    if (m_state == State::Away) {
        return; // said once: libmosquitto may report one loss twice (a return code, a callback)
    }
    m_state = State::Away;
    Event event;
    event.kind = Event::Kind::Lost;
    event.bTls = bTls;
    event.text = why;
    Emit(std::move(event));
}

void CMqttConnection::Abort(const std::string& why) {
    // The socket is closed by the next attempt, which starts on a fresh one.
    Lose(why, false);
}

void CMqttConnection::Connect() {
    m_strTlsDetail.clear();
    m_state = State::Connecting;
    errno = 0;
    const int rc = m_bFirstAttempt
                       ? mosquitto_connect_async(m_pMosq, m_settings.host.c_str(), m_settings.port,
                                                 m_settings.nKeepAliveSeconds)
                       : mosquitto_reconnect_async(m_pMosq);
    const int nErrno = errno;
    if (rc != MOSQ_ERR_SUCCESS) {
        Lose(ErrorText(rc, nErrno), IsTlsError(rc));
        return;
    }
    m_bFirstAttempt = false;
}

void CMqttConnection::Loop(int timeoutMs, int wakeFd) {
    const int fd = mosquitto_socket(m_pMosq);
    if (m_state == State::Away || fd < 0) {
        if (m_state != State::Away) {
            Lose(MosquittoErrorText(MOSQ_ERR_NO_CONN, 0), false);
        }
        pollfd wake{wakeFd, POLLIN, 0};
        ::poll(&wake, 1, timeoutMs);
        return;
    }
    const auto events = static_cast<short>(POLLIN | (mosquitto_want_write(m_pMosq) ? POLLOUT : 0));
    std::array<pollfd, 2> fds{{{fd, events, 0}, {wakeFd, POLLIN, 0}}};
    if (::poll(fds.data(), fds.size(), timeoutMs) < 0 && errno != EINTR) {
        Lose(MosquittoErrorText(MOSQ_ERR_ERRNO, errno), false);
        return;
    }
    int rc = MOSQ_ERR_SUCCESS;
    errno = 0;
    if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        rc = mosquitto_loop_read(m_pMosq, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && m_state != State::Away && mosquitto_socket(m_pMosq) >= 0 &&
        mosquitto_want_write(m_pMosq)) {
        rc = mosquitto_loop_write(m_pMosq, 1);
    }
    if (rc == MOSQ_ERR_SUCCESS && m_state != State::Away) {
        rc = mosquitto_loop_misc(m_pMosq);
    }
    if (rc != MOSQ_ERR_SUCCESS) {
        Lose(ErrorText(rc, errno), IsTlsError(rc));
    }
    if (m_bFallbackDue) {
        FallBack();
    }
}

void CMqttConnection::FallBack() {
    // The same client identifier, in 3.1.1. Nothing is lost with the old client: this happens at
    // the first connect, before anything was handed over (and should a broker be replaced by an
    // older one, the publisher hands out again what was in flight).
    m_bFallbackDue = false;
    m_bProtocol311 = true;
    mosquitto_reinitialise(m_pMosq, m_strClientId.c_str(), false, this);
    std::string error;
    if (!Configure(error)) {
        Lose(error, false);
        return;
    }
    Event event;
    event.kind = Event::Kind::Fallback;
    Emit(std::move(event));
}

int CMqttConnection::Publish(const std::string& topic, const std::string& payload, int qos,
                             bool bRetain, int& mid) {
    if (m_state != State::Connected) {
        return MOSQ_ERR_NO_CONN;
    }
    return mosquitto_publish_v5(m_pMosq, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                payload.data(), std::min(qos, m_nMaxQos), bRetain, nullptr);
}

void CMqttConnection::Disconnect() {
    if (m_state != State::Connected) {
        return;
    }
    if (m_bProtocol311) {
        mosquitto_disconnect(m_pMosq);
    } else {
        const Properties expiry = SessionExpiry(0);
        mosquitto_disconnect_v5(m_pMosq, 0, expiry.get());
    }
    m_state = State::Away;
    // DISCONNECT out of the buffers before the socket closes.
    mosquitto_loop_write(m_pMosq, 1);
}

void CMqttConnection::OnConnect(mosquitto*, void* pSelf, int rc, int flags,
                                const mosquitto_property* pProperties) {
    auto* self = static_cast<CMqttConnection*>(pSelf);
    if (rc == kReasonUnsupportedProtocol && !self->m_bProtocol311) {
        // A broker of MQTT 3.1.1: made again for 3.1.1 once libmosquitto is out of its loop.
        self->m_state = State::Away;
        self->m_bFallbackDue = true;
        return;
    }
    if (rc != 0) {
        self->m_state = State::Away;
        Event event;
        event.kind = Event::Kind::Refused;
        event.reason = rc;
        if (self->m_bProtocol311) {
            event.bLogin = rc == 4 || rc == 5; // bad user name or password, not authorised
            event.text = ConnackText311(rc);
        } else {
            event.bLogin = rc == kReasonBadLogin || rc == kReasonNotAuthorized ||
                           rc == kReasonBanned || rc == kReasonBadAuthMethod;
            event.text = ReasonText(rc);
        }
        self->Emit(std::move(event));
        return;
    }
    uint8_t nMaxQos = 2;
    mosquitto_property_read_byte(pProperties, MQTT_PROP_MAXIMUM_QOS, &nMaxQos, false);
    self->m_nMaxQos = nMaxQos;
    self->m_state = State::Connected;
    Event event;
    event.kind = Event::Kind::Connected;
    event.bSessionPresent = (flags & 1) != 0;
    self->Emit(std::move(event));
}

void CMqttConnection::OnDisconnect(mosquitto*, void* pSelf, int rc, const mosquitto_property*) {
    auto* self = static_cast<CMqttConnection*>(pSelf);
    if (rc == 0) {
        self->m_state = State::Away; // ours
        return;
    }
    // The broker's DISCONNECT carries a reason code (0x80 and up); the rest are libmosquitto's.
    self->Lose(rc >= kReasonFailure ? "the broker ended it: " + ReasonText(rc)
                                    : self->ErrorText(rc, errno),
               IsTlsError(rc));
}

void CMqttConnection::OnPublish(mosquitto*, void* pSelf, int mid, int reason,
                                const mosquitto_property*) {
    auto* self = static_cast<CMqttConnection*>(pSelf);
    Event event;
    event.kind = Event::Kind::Acknowledged;
    event.mid = mid;
    event.reason = reason;
    self->Emit(std::move(event));
}

void CMqttConnection::OnLog(mosquitto* pMosq, void* pSelf, int level, const char* pszText) {
    auto* self = static_cast<CMqttConnection*>(pSelf);
    constexpr std::string_view kOpenSsl = "OpenSSL Error";
    constexpr std::string_view kHostName = "Error: host name verification failed";
    const std::string_view text(pszText);
    if (level != MOSQ_LOG_ERR || !self->m_strTlsDetail.empty()) {
        return; // the first word on a failure is the one that says why
    }
    // libmosquitto checks the name itself, and says so only here.
    if (text.substr(0, kHostName.size()) == kHostName) {
        self->m_strTlsDetail = "the broker's certificate is not for " + self->m_settings.host;
        return;
    }
    if (text.substr(0, kOpenSsl.size()) != kOpenSsl) {
        return;
    }
    // Why the broker's certificate was not taken, in OpenSSL's words ("certificate has
    // expired"), else what the handshake said ("wrong version number": no TLS there).
    auto* pSsl = static_cast<SSL*>(mosquitto_ssl_get(pMosq));
    const long verdict = pSsl != nullptr ? SSL_get_verify_result(pSsl) : X509_V_OK;
    if (verdict != X509_V_OK && verdict != X509_V_ERR_UNSPECIFIED) {
        self->m_strTlsDetail =
            std::string("the broker's certificate: ") + X509_verify_cert_error_string(verdict);
        return;
    }
    const size_t colons = text.rfind("::");
    self->m_strTlsDetail =
        colons != std::string_view::npos ? std::string(text.substr(colons + 2)) : std::string(text);
}
