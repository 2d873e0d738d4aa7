#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "serial/UniqueFd.h"

// An MQTT-aware TCP proxy on 127.0.0.1 between clients and a real broker, for the tests and the
// benchmarks. It forwards whole MQTT packets, each after a delay of its own (the network's
// latency, both ways), and on request does to them what a bad network or a broker dying at the
// wrong moment does: from the next packet of a kind on, nothing more goes one way, and the
// connection is cut a little later; or the connection goes silent without being closed; or a
// client's MQTT 5 CONNECT is answered as a broker of MQTT 3.1.1 answers it.
class CMqttProxy {
public:
    enum class Direction { ToBroker, ToClient };
    // MQTT control packet types.
    static constexpr int kConnect = 1;
    static constexpr int kPublish = 3;
    static constexpr int kPuback = 4;
    static constexpr int kPubrec = 5;
    static constexpr int kPubrel = 6;
    static constexpr int kPubcomp = 7;

    explicit CMqttProxy(uint16_t brokerPort);
    ~CMqttProxy();
    CMqttProxy(const CMqttProxy&) = delete;
    CMqttProxy& operator=(const CMqttProxy&) = delete;

    // Listens on a free port of 127.0.0.1; false when it cannot.
    bool Start();
    uint16_t Port() const { return m_nPort; }

    // Every packet waits this long before it goes on, either way.
    void SetLatency(std::chrono::milliseconds oneWay);
    // From the first packet of `packetType` going `direction` after `nLetThrough` more of them,
    // nothing goes that way any more (the other way still flows), and `cutAfter` later every
    // connection is cut. Once, for the connections there are then.
    void BlockThenCut(Direction direction, int packetType, int nLetThrough,
                      std::chrono::milliseconds cutAfter);
    // The connections there are now carry nothing more either way and stay open: a network that
    // died without a word. New connections work.
    void GoSilent();
    // A CONNECT of MQTT 5 is refused as a broker of 3.1.1 does (CONNACK "unacceptable protocol
    // version", then the connection closed).
    void RefuseMqtt5(bool bRefuse);

    // True once a fault armed by BlockThenCut has cut (within `timeout`).
    bool WaitCut(std::chrono::milliseconds timeout);
    // Connections accepted from clients so far (also those turned away while the broker is down).
    int Connections() const;
    bool WaitConnections(int count, std::chrono::milliseconds timeout);
    // Packets of a type that went `direction` (forwarded or not).
    int Packets(Direction direction, int packetType) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Pending {
        Clock::time_point release;
        std::vector<uint8_t> packet;
    };
    struct Way {
        std::vector<uint8_t> in; // bytes of a packet not yet whole
        std::deque<Pending> delayed;
        std::vector<uint8_t> out; // released, not yet written
        bool bBlocked = false;
        bool bEof = false; // its source closed: the pair closes once it is flushed
    };
    struct Pair {
        CUniqueFd client;
        CUniqueFd broker;
        Way toBroker;
        Way toClient;
        bool bClosing = false;
        bool bSilent = false;
    };

    void Run();
    void Accept();
    void Read(Pair& pair, Direction direction);
    void Packet(Pair& pair, Direction direction, std::vector<uint8_t> packet);
    void Flush(Pair& pair, Direction direction, Clock::time_point now);
    void Wake();

    uint16_t m_nBrokerPort;
    uint16_t m_nPort = 0;
    CUniqueFd m_listen;
    CUniqueFd m_wakeRead;
    CUniqueFd m_wakeWrite;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bStop = false;
    std::vector<std::unique_ptr<Pair>> m_vecPairs;
    std::chrono::milliseconds m_latency{0};
    // The armed fault.
    bool m_bArmed = false;
    Direction m_faultDirection = Direction::ToBroker;
    int m_nFaultType = 0;
    int m_nFaultLetThrough = 0;
    std::chrono::milliseconds m_cutAfter{0};
    bool m_bCutDue = false;
    Clock::time_point m_tCut;
    bool m_bCut = false;
    bool m_bSilentDue = false;
    bool m_bRefuse5 = false;
    int m_nConnections = 0;
    std::array<std::array<int, 16>, 2> m_aPackets{}; // [direction][packet type]
};
