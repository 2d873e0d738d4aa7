#include "tests/support/MqttProxy.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace {

constexpr int kWayToBroker = 0;
constexpr int kWayToClient = 1;
// The CONNACK of MQTT 3.1.1 that refuses a protocol version it does not speak.
constexpr std::array<uint8_t, 4> kConnackBadVersion = {0x20, 0x02, 0x00, 0x01};
// A CONNECT's variable header: the protocol name "MQTT" (2 + 4 bytes), then its level.
constexpr size_t kConnectLevelOffset = 6;
constexpr size_t kMaxLengthBytes = 4;
constexpr uint8_t kMqtt5 = 5;

int Index(CMqttProxy::Direction direction) {
    return direction == CMqttProxy::Direction::ToBroker ? kWayToBroker : kWayToClient;
}

void NonBlocking(int fd) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

// The length of the packet at the start of `bytes` (fixed header, remaining length, body), 0
// while it is not whole.
size_t PacketLength(const std::vector<uint8_t>& bytes) {
    size_t remaining = 0;
    size_t multiplier = 1;
    for (size_t i = 1; i < bytes.size() && i <= kMaxLengthBytes; ++i) {
        remaining += (bytes[i] & 0x7FU) * multiplier;
        if ((bytes[i] & 0x80U) == 0) {
            const size_t total = 1 + i + remaining;
            return bytes.size() >= total ? total : 0;
        }
        multiplier *= 128;
    }
    return 0;
}

// Where a packet's variable header starts: after its fixed header and remaining length.
size_t BodyOffset(const std::vector<uint8_t>& packet) {
    size_t i = 1;
    while (i < packet.size() && i <= kMaxLengthBytes && (packet[i] & 0x80U) != 0) {
        ++i;
    }
    return i + 1;
}

} // namespace

CMqttProxy::CMqttProxy(uint16_t brokerPort) : m_nBrokerPort(brokerPort) {}

CMqttProxy::~CMqttProxy() {
    {
        const std::lock_guard lock(m_mutex);
        m_bStop = true;
    }
    Wake();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool CMqttProxy::Start() {
    m_listen.Reset(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    std::array<int, 2> wake{-1, -1};
    if (!m_listen.IsValid() ||
        ::bind(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(m_listen.Get(), 8) != 0 ||
        ::getsockname(m_listen.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0 ||
        ::pipe2(wake.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    m_wakeRead.Reset(wake[0]);
    m_wakeWrite.Reset(wake[1]);
    m_nPort = ntohs(address.sin_port);
    m_thread = std::thread([this] { Run(); });
    return true;
}

void CMqttProxy::Wake() {
    const char one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeWrite.Get(), &one, 1);
}

void CMqttProxy::SetLatency(std::chrono::milliseconds oneWay) {
    const std::lock_guard lock(m_mutex);
    m_latency = oneWay;
}

void CMqttProxy::BlockThenCut(Direction direction, int packetType, int nLetThrough,
                              std::chrono::milliseconds cutAfter) {
    {
        const std::lock_guard lock(m_mutex);
        m_bArmed = true;
        m_bCut = false;
        m_faultDirection = direction;
        m_nFaultType = packetType;
        m_nFaultLetThrough = nLetThrough;
        m_cutAfter = cutAfter;
    }
    Wake();
}

void CMqttProxy::GoSilent() {
    {
        const std::lock_guard lock(m_mutex);
        m_bSilentDue = true;
    }
    Wake();
}

void CMqttProxy::RefuseMqtt5(bool bRefuse) {
    const std::lock_guard lock(m_mutex);
    m_bRefuse5 = bRefuse;
}

bool CMqttProxy::WaitCut(std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_bCut; });
}

int CMqttProxy::Connections() const {
    const std::lock_guard lock(m_mutex);
    return m_nConnections;
}

bool CMqttProxy::WaitConnections(int count, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return m_nConnections >= count; });
}

int CMqttProxy::Packets(Direction direction, int packetType) const {
    const std::lock_guard lock(m_mutex);
    return m_aPackets[static_cast<size_t>(Index(direction))][static_cast<size_t>(packetType & 0xF)];
}

void CMqttProxy::Accept() {
    CUniqueFd client(::accept4(m_listen.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.IsValid()) {
        return;
    }
    ++m_nConnections;
    m_changed.notify_all();
    CUniqueFd broker(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(m_nBrokerPort);
    // A broker that is down refuses the client as it would itself: the connection closes.
    if (!broker.IsValid() ||
        ::connect(broker.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return;
    }
    NonBlocking(client.Get());
    NonBlocking(broker.Get());
    auto pair = std::make_unique<Pair>();
    pair->client = std::move(client);
    pair->broker = std::move(broker);
    m_vecPairs.push_back(std::move(pair));
}

void CMqttProxy::Packet(Pair& pair, Direction direction, std::vector<uint8_t> packet) {
    const int type = packet[0] >> 4;
    ++m_aPackets[static_cast<size_t>(Index(direction))][static_cast<size_t>(type)];
    Way& way = direction == Direction::ToBroker ? pair.toBroker : pair.toClient;
    const size_t level = BodyOffset(packet) + kConnectLevelOffset;
    if (m_bRefuse5 && direction == Direction::ToBroker && type == kConnect &&
        packet.size() > level && packet[level] == kMqtt5) {
        pair.toClient.out.insert(pair.toClient.out.end(), kConnackBadVersion.begin(),
                                 kConnackBadVersion.end());
        pair.toBroker.bBlocked = true;
        pair.bClosing = true;
        return;
    }
    if (m_bArmed && direction == m_faultDirection && type == m_nFaultType &&
        m_nFaultLetThrough-- <= 0) {
        m_bArmed = false;
        for (auto& each : m_vecPairs) {
            (direction == Direction::ToBroker ? each->toBroker : each->toClient).bBlocked = true;
        }
        m_bCutDue = true;
        m_tCut = Clock::now() + m_cutAfter;
    }
    if (!way.bBlocked) {
        way.delayed.push_back({Clock::now() + m_latency, std::move(packet)});
    }
}

void CMqttProxy::Read(Pair& pair, Direction direction) {
    const int fd = direction == Direction::ToBroker ? pair.client.Get() : pair.broker.Get();
    Way& way = direction == Direction::ToBroker ? pair.toBroker : pair.toClient;
    std::array<uint8_t, 16384> buffer{};
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
        way.bEof = true;
        return;
    }
    if (n < 0) {
        return;
    }
    way.in.insert(way.in.end(), buffer.begin(), buffer.begin() + n);
    while (const size_t length = PacketLength(way.in)) {
        std::vector<uint8_t> packet(way.in.begin(),
                                    way.in.begin() + static_cast<ptrdiff_t>(length));
        way.in.erase(way.in.begin(), way.in.begin() + static_cast<ptrdiff_t>(length));
        Packet(pair, direction, std::move(packet));
    }
}

void CMqttProxy::Flush(Pair& pair, Direction direction, Clock::time_point now) {
    Way& way = direction == Direction::ToBroker ? pair.toBroker : pair.toClient;
    const int fd = direction == Direction::ToBroker ? pair.broker.Get() : pair.client.Get();
    while (!way.delayed.empty() && way.delayed.front().release <= now) {
        if (!way.bBlocked) {
            way.out.insert(way.out.end(), way.delayed.front().packet.begin(),
                           way.delayed.front().packet.end());
        }
        way.delayed.pop_front();
    }
    if (!way.out.empty()) {
        const ssize_t n = ::send(fd, way.out.data(), way.out.size(), MSG_NOSIGNAL);
        if (n > 0) {
            way.out.erase(way.out.begin(), way.out.begin() + n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            way.bEof = true;
            way.delayed.clear();
            way.out.clear();
        }
    }
}

void CMqttProxy::Run() {
    std::unique_lock lock(m_mutex);
    while (!m_bStop) {
        const auto now = Clock::now();
        if (m_bSilentDue) {
            m_bSilentDue = false;
            for (auto& pair : m_vecPairs) {
                pair->bSilent = true;
                pair->toBroker.bBlocked = pair->toClient.bBlocked = true;
                pair->toBroker.delayed.clear();
                pair->toClient.delayed.clear();
            }
        }
        if (m_bCutDue && now >= m_tCut) {
            m_bCutDue = false;
            m_vecPairs.clear();
            m_bCut = true;
            m_changed.notify_all();
        }
        for (auto& pair : m_vecPairs) {
            Flush(*pair, Direction::ToBroker, now);
            Flush(*pair, Direction::ToClient, now);
        }
        // A side that closed: what it sent goes on, then the pair closes.
        // A silent connection stays open to its client until the client gives up on it, whatever
        // the broker does meanwhile.
        std::erase_if(m_vecPairs, [](const std::unique_ptr<Pair>& p) {
            if (p->bSilent) {
                return p->toBroker.bEof;
            }
            const auto flushed = [](const Way& w) { return w.delayed.empty() && w.out.empty(); };
            return ((p->toBroker.bEof || p->toClient.bEof || p->bClosing) && flushed(p->toBroker) &&
                    flushed(p->toClient)) ||
                   (p->toBroker.bEof && p->toClient.bEof);
        });
        std::vector<pollfd> fds{{m_listen.Get(), POLLIN, 0}, {m_wakeRead.Get(), POLLIN, 0}};
        auto until = now + std::chrono::seconds(1);
        for (const auto& pair : m_vecPairs) {
            for (const Way* way : {&pair->toBroker, &pair->toClient}) {
                if (!way->delayed.empty()) {
                    until = std::min(until, way->delayed.front().release);
                }
            }
            fds.push_back({pair->client.Get(),
                           static_cast<short>((pair->toBroker.bEof ? 0 : POLLIN) |
                                              (pair->toClient.out.empty() ? 0 : POLLOUT)),
                           0});
            fds.push_back({pair->broker.Get(),
                           static_cast<short>((pair->toClient.bEof ? 0 : POLLIN) |
                                              (pair->toBroker.out.empty() ? 0 : POLLOUT)),
                           0});
        }
        if (m_bCutDue) {
            until = std::min(until, m_tCut);
        }
        const auto timeout = std::chrono::duration_cast<std::chrono::milliseconds>(until - now);
        lock.unlock();
        ::poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(timeout.count(), 0)));
        lock.lock();
        if ((fds[1].revents & POLLIN) != 0) {
            std::array<char, 64> drain{};
            while (::read(m_wakeRead.Get(), drain.data(), drain.size()) > 0) {
            }
        }
        if ((fds[0].revents & POLLIN) != 0) {
            Accept();
        }
        // Pairs made by Accept have no entries in fds yet.
        for (size_t i = 0; i + 2 < fds.size() && i / 2 < m_vecPairs.size(); i += 2) {
            Pair& pair = *m_vecPairs[i / 2];
            if ((fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !pair.toBroker.bEof) {
                Read(pair, Direction::ToBroker);
            }
            if ((fds[i + 3].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !pair.toClient.bEof) {
                Read(pair, Direction::ToClient);
            }
        }
    }
}
