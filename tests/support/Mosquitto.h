#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "tests/support/TempDir.h"

struct mosquitto;

// A real MQTT broker for the tests: Debian's mosquitto on 127.0.0.1, on a free port, with a
// configuration of its own in a temporary folder. It keeps its sessions and retained messages in
// that folder across a restart, as a plant's broker does (unless told otherwise).
class CMosquittoBroker {
public:
    CMosquittoBroker();
    ~CMosquittoBroker();
    CMosquittoBroker(const CMosquittoBroker&) = delete;
    CMosquittoBroker& operator=(const CMosquittoBroker&) = delete;

    // From the next Start on, only the users added are let in, each with its password
    // (mosquitto_passwd writes the broker's password file); false when the file could not be
    // made.
    bool RequireLogin(const std::string& user, const std::string& password);
    // From the next Start on, what each user may read and write: mosquitto's acl_file text.
    bool SetAcl(const std::string& text);
    // From the next Start on, the listener speaks TLS with this certificate and key.
    void UseTls(const std::string& certFile, const std::string& keyFile);
    // From the next Start on, whether sessions and retained messages outlive a restart.
    void SetPersistence(bool bPersistence) { m_bPersistence = bPersistence; }
    std::string Dir() const { return m_dir.Path(); }
    // Starts it (again: on the same port) and waits until it listens; false with its words in
    // Log() when it did not.
    bool Start();
    void Stop();
    uint16_t Port() const { return m_nPort; }
    std::string Log() const;

private:
    CTempDir m_dir;
    uint16_t m_nPort = 0;
    pid_t m_nPid = -1;
    bool m_bLogin = false;
    bool m_bAcl = false;
    bool m_bPersistence = true;
    std::string m_strCertFile;
    std::string m_strKeyFile;
};

// What a subscriber receives, in order: a client of the broker on a thread of its own, subscribed
// to a filter with QoS 1 (or 2: exactly once from the broker) in a session the broker keeps (so
// nothing published while it was reconnecting is lost to it), reconnecting by itself.
class CMqttSubscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool bRetained = false;
    };

    struct Login {
        std::string user;
        std::string password;
    };

    // `clientId` names the kept session; a new id is a new subscriber.
    CMqttSubscriber(uint16_t port, std::string filter, std::string clientId, int qos = 1,
                    const Login& login = {});
    ~CMqttSubscriber();
    CMqttSubscriber(const CMqttSubscriber&) = delete;
    CMqttSubscriber& operator=(const CMqttSubscriber&) = delete;

    // True once subscribed (within `timeout`).
    bool WaitSubscribed(std::chrono::milliseconds timeout);
    // True once `done` holds for the messages received so far (within `timeout`).
    bool WaitFor(const std::function<bool(const std::vector<Message>&)>& done,
                 std::chrono::milliseconds timeout);
    std::vector<Message> Messages() const;

private:
    static void OnConnect(mosquitto* pMosq, void* pSelf, int rc);
    static void OnSubscribe(mosquitto* pMosq, void* pSelf, int mid, int count, const int* granted);
    static void OnMessage(mosquitto* pMosq, void* pSelf, const struct mosquitto_message* pMessage);

    std::string m_strFilter;
    int m_nQos;
    mosquitto* m_pMosq = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Message> m_vecMessages;
    bool m_bSubscribed = false;
};
