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
// that folder across a restart, as a plant's broker does.
class CMosquittoBroker {
public:
    CMosquittoBroker();
    ~CMosquittoBroker();
    CMosquittoBroker(const CMosquittoBroker&) = delete;
    CMosquittoBroker& operator=(const CMosquittoBroker&) = delete;

    // From the next Start on, only this user is let in, with this password (mosquitto_passwd
    // writes the broker's password file); false when the file could not be made.
    bool RequireLogin(const std::string& user, const std::string& password);
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
};

// What a subscriber receives, in order: a client of the broker on a thread of its own, subscribed
// to a filter with QoS 1 in a session the broker keeps (so nothing published while it was
// reconnecting is lost to it), reconnecting by itself.
class CMqttSubscriber {
public:
    struct Message {
        std::string topic;
        std::string payload;
        bool bRetained = false;
    };

    // `clientId` names the kept session; a new id is a new subscriber.
    CMqttSubscriber(uint16_t port, std::string filter, std::string clientId);
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
    mosquitto* m_pMosq = nullptr;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Message> m_vecMessages;
    bool m_bSubscribed = false;
};
