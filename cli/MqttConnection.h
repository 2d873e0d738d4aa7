#pragma once

#include <optional>
#include <string>
#include <vector>

#include "cli/PublishSettings.h"

struct mosquitto;
struct mosquitto_message;
typedef struct mqtt5__property mosquitto_property;

// One MQTT connection to the broker through libmosquitto, used from one thread (the
// publisher's): it connects when asked, keeps the connection's I/O going, and tells what
// happened as events, which the publisher takes after each turn of Loop().
//
// MQTT 5, falling back to 3.1.1 when the broker refuses 5. The client and its session are kept
// for the whole run: messages handed over and not yet acknowledged stay with libmosquitto across
// a lost connection and go again once it is back (a QoS 2 message with its packet identifier,
// which the broker knows again within the session), so the broker never takes one twice. The
// broker keeps the session across a lost connection (a session expiry of a day); an orderly end
// asks it to forget it.
class CMqttConnection {
public:
    struct Event {
        enum class Kind {
            Connected,    // bSessionPresent
            Refused,      // the broker refused the connection: reason, bLogin
            Lost,         // not (or no longer) connected: text, bTls
            Acknowledged, // mid, reason (below kReasonFailure: taken)
            Fallback,     // now MQTT 3.1.1: what was in flight is no longer with libmosquitto
        };
        Kind kind = Kind::Lost;
        int mid = 0;
        int reason = 0;
        bool bSessionPresent = false;
        bool bLogin = false; // the login is what the broker refuses (or a ban)
        bool bTls = false;   // TLS failed: the certificate, its name, or the handshake
        std::string text;    // our words for it
    };

    CMqttConnection(const PublishSettings& settings, std::optional<std::string> password);
    ~CMqttConnection();
    CMqttConnection(const CMqttConnection&) = delete;
    CMqttConnection& operator=(const CMqttConnection&) = delete;

    // The client: will, login, TLS, MQTT 5 and its session. False with `error` set.
    bool Setup(std::string& error);
    // Starts an attempt to connect; a failure at once comes as a Lost event.
    void Connect();
    // Gives up the attempt or connection in hand without a word to the broker (it is dead).
    void Abort(const std::string& why);
    bool IsConnected() const { return m_state == State::Connected; }
    bool IsConnecting() const { return m_state == State::Connecting; }
    bool Is311() const { return m_bProtocol311; }
    // Waits up to `timeoutMs` for the connection's socket or `wakeFd` (readable: there is work),
    // then reads, writes and looks after the connection (keep-alive).
    void Loop(int timeoutMs, int wakeFd);
    // Hands a message over; a libmosquitto code (MOSQ_ERR_SUCCESS: `mid` names it).
    int Publish(const std::string& topic, const std::string& payload, int qos, bool bRetain,
                int& mid);
    // An orderly end: DISCONNECT, the session ended (MQTT 5), the connection closed.
    void Disconnect();
    std::vector<Event> TakeEvents();
    // The highest QoS the broker takes (2 unless its CONNACK says less).
    int MaxQos() const { return m_nMaxQos; }
    // HOST:PORT, an IPv6 address in brackets.
    std::string Where() const;

private:
    enum class State { Away, Connecting, Connected };

    bool Configure(std::string& error);
    void FallBack();
    void Emit(Event event);
    void Lose(const std::string& why, bool bTls);
    std::string ErrorText(int rc, int nErrno) const;

    static void OnConnect(mosquitto* pMosq, void* pSelf, int rc, int flags,
                          const mosquitto_property* pProperties);
    static void OnDisconnect(mosquitto* pMosq, void* pSelf, int rc,
                             const mosquitto_property* pProperties);
    static void OnPublish(mosquitto* pMosq, void* pSelf, int mid, int reason,
                          const mosquitto_property* pProperties);
    static void OnLog(mosquitto* pMosq, void* pSelf, int level, const char* pszText);

    PublishSettings m_settings;
    std::optional<std::string> m_password;
    std::string m_strClientId;
    mosquitto* m_pMosq = nullptr;
    State m_state = State::Away;
    bool m_bProtocol311 = false;
    bool m_bFallbackDue = false;
    bool m_bFirstAttempt = true; // libmosquitto's connect before its reconnects
    int m_nMaxQos = 2;
    std::string m_strTlsDetail; // what OpenSSL said of the last TLS failure
    std::vector<Event> m_vecEvents;
};
