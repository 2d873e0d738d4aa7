// CSerialPort on serial device servers: port names to what they open or why not, the Telnet layer
// in pieces, and the real thing (ser2net on 127.0.0.1 in front of a pty whose far side the test
// plays): the line set and confirmed, every byte value through both protocols, a refused setting,
// a server that goes away and comes back.
#include <gtest/gtest.h>

#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <numeric>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "serial/PortAddress.h"
#include "serial/SerialPort.h"
#include "serial/TelnetCodec.h"
#include "serial/UniqueFd.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/LineProbe.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2net.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A failed open may take the whole budget of 1 s; one that hangs on the system's own time-outs
// (a connection's takes minutes) is the fault this bound catches.
constexpr auto kOpenBound = 5s;

// A listening socket of the test's own on a loopback address: a device server that says nothing.
class CListener {
public:
    CListener(int family, int backlog = 4) {
        m_fd.Reset(socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0));
        sockaddr_storage address{};
        socklen_t length = 0;
        if (family == AF_INET6) {
            auto* p = reinterpret_cast<sockaddr_in6*>(&address);
            p->sin6_family = AF_INET6;
            p->sin6_addr = in6addr_loopback;
            length = sizeof *p;
        } else {
            auto* p = reinterpret_cast<sockaddr_in*>(&address);
            p->sin_family = AF_INET;
            p->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            length = sizeof *p;
        }
        if (!m_fd.IsValid() ||
            bind(m_fd.Get(), reinterpret_cast<sockaddr*>(&address), length) != 0 ||
            listen(m_fd.Get(), backlog) != 0 ||
            getsockname(m_fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            m_fd.Reset();
            return;
        }
        m_nPort = ntohs(family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&address)->sin6_port
                                           : reinterpret_cast<sockaddr_in*>(&address)->sin_port);
    }
    bool IsValid() const { return m_fd.IsValid(); }
    std::string Port() const { return std::to_string(m_nPort); }
    // The next connection, taken from the queue and handed over; -1 when `bStop` came first.
    int AcceptFd(const std::atomic<bool>& bStop) {
        while (!bStop) {
            pollfd pfd{m_fd.Get(), POLLIN, 0};
            if (poll(&pfd, 1, 20) > 0) {
                m_accepted.emplace_back(accept(m_fd.Get(), nullptr, nullptr));
                return m_accepted.back().Get();
            }
        }
        return -1;
    }
    // A connection that came, taken from the queue; false when none came in time.
    bool Accepted() {
        pollfd pfd{m_fd.Get(), POLLIN, 0};
        if (poll(&pfd, 1, 2000) <= 0) {
            return false;
        }
        m_accepted.emplace_back(accept(m_fd.Get(), nullptr, nullptr));
        return m_accepted.back().IsValid();
    }

private:
    CUniqueFd m_fd;
    uint16_t m_nPort = 0;
    std::vector<CUniqueFd> m_accepted;
};

struct PortCase {
    std::string name;               // what is opened
    std::string expected;           // empty: it opens; else a part of the reason it does not
    CListener* pListener = nullptr; // where the connection must arrive when it opens
};

TEST(NetworkPortNames, OpenWhatTheyNameOrSayWhyNot) {
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CListener v4(AF_INET);
    CListener v6(AF_INET6);
    ASSERT_TRUE(v4.IsValid());
    // A server whose queue of connections is full: the system drops further attempts unanswered,
    // as an unreachable host does.
    CListener full(AF_INET, 0);
    ASSERT_TRUE(full.IsValid());
    CUniqueFd filler(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in fillTo{};
    fillTo.sin_family = AF_INET;
    fillTo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    fillTo.sin_port = htons(static_cast<uint16_t>(std::stoi(full.Port())));
    ASSERT_EQ(connect(filler.Get(), reinterpret_cast<sockaddr*>(&fillTo), sizeof fillTo), 0);
    const std::string refused = std::to_string(FreeTcpPort());

    std::vector<PortCase> cases = {
        {pty.SlavePath(), ""},
        {"tcp://127.0.0.1:" + v4.Port(), "", &v4},
        {"TCP://localhost:" + v4.Port() + "/", "", &v4}, // a name, any case, a trailing slash
        {"tcp://127.0.0.1:" + refused, "connection refused"},
        {"rfc2217://127.0.0.1:" + refused, "connection refused"},
        {"tcp://nosuch.invalid:4001", "no such host (nosuch.invalid)"},
        {"tcp://127.0.0.1:" + full.Port(), "timed out (no connection within 1 s)"},
        {"rfc2217://127.0.0.1:" + v4.Port(), "no answer to the COM-port option", &v4},
        {"tcp://127.0.0.1", "the port number is missing"},
        {"tcp://:4001", "the host is missing"},
        {"tcp://::1:4001", "an IPv6 address goes in brackets"},
        {"tcp://[::1:4001", "lacks its closing ']'"},
        {"tcp://[::1]", "the port number is missing"},
        {"tcp://[qd7]:4001", "\"qd7\" is not an IPv6 address"},
        {"tcp://[fe80::1%]:4001", "\"fe80::1%\" is not an IPv6 address"},
        {"tcp://[fe80::1%eth 0]:4001", "\"fe80::1%eth 0\" is not an IPv6 address"},
        {"tcp://127.0.0.1:0", "\"0\" is not a port number 1..65535"},
        {"tcp://127.0.0.1:65536", "\"65536\" is not a port number"},
        {"tcp://127.0.0.1:40x", "\"40x\" is not a port number"},
        {"tcp://meter@127.0.0.1:4001", "\"meter@127.0.0.1\" is not a host name"},
        {"socket://127.0.0.1:4001", "unknown kind of port socket://"},
    };
    if (v6.IsValid()) { // a machine without IPv6 on its loopback interface has no [::1]
        cases.push_back({"tcp://[::1]:" + v6.Port(), "", &v6});
        // With the zone of the loopback interface, by its number: a link-local address's form.
        cases.push_back(
            {"tcp://[::1%" + std::to_string(if_nametoindex("lo")) + "]:" + v6.Port(), "", &v6});
    }
    for (const PortCase& c : cases) {
        SCOPED_TRACE(c.name);
        CSerialPort port;
        const auto start = Clock::now();
        const PortHandle h = port.OpenPath(c.name, {9600, 8, 0, 0});
        EXPECT_LT(Clock::now() - start, kOpenBound);
        if (c.expected.empty()) {
            EXPECT_NE(h, kNullPortHandle) << port.FailureReason();
            EXPECT_EQ(port.OpenedPath(), c.name);
        } else {
            EXPECT_EQ(h, kNullPortHandle);
            EXPECT_FALSE(port.IsOpen());
            EXPECT_EQ(port.FailureReason().rfind(c.name + ": ", 0), 0U) << port.FailureReason();
            EXPECT_NE(port.FailureReason().find(c.expected), std::string::npos)
                << port.FailureReason();
        }
        if (c.pListener != nullptr) {
            EXPECT_TRUE(c.pListener->Accepted()) << "no connection arrived";
        }
    }

    // A zone as URIs write it, "%25" for the '%'; the resolver takes it as the system writes it.
    std::string error;
    const std::optional<NetworkAddress> zoned =
        ParseNetworkAddress("rfc2217://[fe80::1%25eth0]:4001", error);
    ASSERT_TRUE(zoned.has_value()) << error;
    EXPECT_EQ(zoned->host, "fe80::1%eth0");
    EXPECT_EQ(FormatNetworkAddress(*zoned), "rfc2217://[fe80::1%eth0]:4001");

    // COMn names a device server as it names a device.
    CEnvGuard env;
    env.Set("QD7_COM3", "tcp://127.0.0.1:" + v4.Port());
    CSerialPort port;
    EXPECT_NE(port.Open(3, 9600, 8, 0, 0), kNullPortHandle) << port.FailureReason();
    EXPECT_TRUE(v4.Accepted());
}

// On a raw TCP port the server drives the RS485 direction: RTS delays cannot be had from here.
TEST(NetworkPortNames, RtsDelaysOnARawPortAreRefusedWithTheReason) {
    CListener server(AF_INET);
    ASSERT_TRUE(server.IsValid());
    CSerialPort port;
    port.SetRtsDelays(5ms, 0ms);
    EXPECT_EQ(port.OpenPath("tcp://127.0.0.1:" + server.Port(), {9600, 8, 0, 0}), kNullPortHandle);
    EXPECT_NE(port.FailureReason().find("the device server switches the RS485 direction"),
              std::string::npos)
        << port.FailureReason();
}

// A device server of the test's own that speaks just enough RFC 2217 to be asked for a line: it
// agrees to the COM-port option and answers each setting as the test scripts it, the speed in its
// own way. One client, on a thread of its own.
class CScriptedComPortServer {
public:
    // `speedAnswer`: what SET-BAUDRATE is answered with; nothing: it is not answered at all.
    explicit CScriptedComPortServer(std::optional<std::vector<uint8_t>> speedAnswer)
        : m_speedAnswer(std::move(speedAnswer)), m_listener(AF_INET),
          m_thread([this] { Serve(); }) {}
    ~CScriptedComPortServer() {
        m_bStop = true;
        m_thread.join();
    }
    CScriptedComPortServer(const CScriptedComPortServer&) = delete;
    CScriptedComPortServer& operator=(const CScriptedComPortServer&) = delete;

    std::string Url() const { return "rfc2217://127.0.0.1:" + m_listener.Port(); }

private:
    static constexpr uint8_t kIac = 255;
    static constexpr uint8_t kSb = 250;
    static constexpr uint8_t kSe = 240;
    static constexpr uint8_t kDo = 253;
    static constexpr uint8_t kComPort = 44;
    static constexpr uint8_t kSetBaudRate = 1;
    static constexpr uint8_t kServerOffset = 100;

    void Serve() {
        const int fd = m_listener.AcceptFd(m_bStop);
        if (fd < 0) {
            return;
        }
        Send(fd, {kIac, kDo, kComPort});
        std::vector<uint8_t> in;
        while (!m_bStop) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) {
                continue;
            }
            std::array<uint8_t, 256> chunk{};
            const ssize_t n = read(fd, chunk.data(), chunk.size());
            if (n <= 0) {
                break;
            }
            in.insert(in.end(), chunk.begin(), chunk.begin() + n);
            AnswerSubnegotiations(fd, in);
        }
    }
    // Each complete IAC SB COM-PORT command value IAC SE, answered and dropped from `in`.
    void AnswerSubnegotiations(int fd, std::vector<uint8_t>& in) {
        for (;;) {
            const auto start = std::search(in.begin(), in.end(), kOpen.begin(), kOpen.end());
            const auto end = std::search(start, in.end(), kClose.begin(), kClose.end());
            if (start == in.end() || end == in.end()) {
                return;
            }
            const uint8_t command = start[3];
            std::vector<uint8_t> value(start + 4, end);
            in.erase(in.begin(), end + 2);
            if (command == kSetBaudRate) {
                if (!m_speedAnswer) {
                    continue;
                }
                value = *m_speedAnswer;
            }
            std::vector<uint8_t> reply = {kIac, kSb, kComPort,
                                          static_cast<uint8_t>(command + kServerOffset)};
            reply.insert(reply.end(), value.begin(), value.end());
            reply.insert(reply.end(), {kIac, kSe});
            Send(fd, reply);
        }
    }
    static void Send(int fd, const std::vector<uint8_t>& bytes) {
        EXPECT_EQ(write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    static constexpr std::array<uint8_t, 3> kOpen = {kIac, kSb, kComPort};
    static constexpr std::array<uint8_t, 2> kClose = {kIac, kSe};
    std::optional<std::vector<uint8_t>> m_speedAnswer;
    CListener m_listener;
    std::atomic<bool> m_bStop{false};
    std::thread m_thread;
};

// The server's answer to the speed: its leading bytes are the setting, as RFC 2217 servers send
// it, whatever follows them.
TEST(NetworkPortNames, TheSpeedIsConfirmedByTheLeadingBytesOfTheAnswer) {
    struct Case {
        const char* name;
        std::optional<std::vector<uint8_t>> answer;
        const char* expected; // empty: it opens; else a part of the reason it does not
    };
    const std::vector<Case> cases = {
        {"exact", std::vector<uint8_t>{0x00, 0x00, 0x25, 0x80}, ""},
        {"more bytes than asked", std::vector<uint8_t>{0x00, 0x00, 0x25, 0x80, 0x00, 0x00}, ""},
        {"another value", std::vector<uint8_t>{0x00, 0x00, 0x4B, 0x00},
         "the device server refuses the line settings: it sets 19200 bit/s, not 9600 bit/s"},
        {"fewer bytes", std::vector<uint8_t>{0x25, 0x80},
         "the device server answers 9600 bit/s with 2 bytes, not the 4 of the setting"},
        {"no answer", std::nullopt,
         "the device server does not confirm 9600 bit/s (no answer within 1 s)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CScriptedComPortServer server(c.answer);
        CSerialPort port;
        const PortHandle h = port.OpenPath(server.Url(), {9600, 8, 0, 0});
        if (*c.expected == '\0') {
            EXPECT_NE(h, kNullPortHandle) << port.FailureReason();
            EXPECT_EQ(port.Warning(), "");
        } else {
            EXPECT_EQ(h, kNullPortHandle);
            EXPECT_EQ(port.FailureReason(), server.Url() + ": " + c.expected);
        }
    }
}

// A speed outside the standard set is asked for all the same, with a warning: a server may
// confirm it and set none.
TEST(NetworkPortNames, ASpeedOutsideTheStandardSetIsTriedWithAWarning) {
    for (const int speed : {14400, 56000, 128000, 256000}) {
        SCOPED_TRACE(speed);
        const auto value = static_cast<uint32_t>(speed);
        CScriptedComPortServer server(std::vector<uint8_t>{
            static_cast<uint8_t>(value >> 24), static_cast<uint8_t>(value >> 16),
            static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value)});
        CSerialPort port;
        EXPECT_NE(port.OpenPath(server.Url(), {speed, 8, 0, 0}), kNullPortHandle)
            << port.FailureReason();
        EXPECT_EQ(port.Warning().rfind(
                      std::to_string(speed) + " bit/s is no standard speed of POSIX systems", 0),
                  0U)
            << port.Warning();
    }
}

// The Telnet layer gets its bytes in whatever pieces the network delivers.
TEST(TelnetCodec, DataEscapesAndNegotiationSurviveAnySplit) {
    using namespace telnet;
    const std::vector<uint8_t> stream = {
        'A',  kIac,  kIac,     0x0D, 0x0A,          // data: A, FF, CR LF
        kIac, kWill, kBinary,  kIac, kDo,  kBinary, // agrees to binary
        kIac, kWill, 1,                             // offers echo
        kIac, kDo,   kComPort,                      // takes the COM-port option
        kIac, kSb,   kComPort, 101,  0x00, 0x00,    0x25, 0x80, kIac, kSe, // speed is 9600
        kIac, kSb,   kComPort, 102,  kIac, kIac,    kIac, kSe,             // a value of FF, doubled
        0x0D, 0x00,  kIac,     241,  'Z'}; // CR (binary now), NOP, Z
    for (size_t split = 0; split <= stream.size(); ++split) {
        SCOPED_TRACE("split at " + std::to_string(split));
        CTelnetCodec codec;
        const std::vector<uint8_t> opening = codec.Opening();
        std::vector<uint8_t> data;
        std::vector<ComPortMessage> messages;
        std::vector<uint8_t> replies;
        codec.Receive(std::span(stream).first(split), data, messages, replies);
        codec.Receive(std::span(stream).subspan(split), data, messages, replies);
        // Outside binary mode a CR travels as CR NUL; once binary, a NUL after CR is data.
        EXPECT_EQ(data, (std::vector<uint8_t>{'A', kIac, 0x0D, 0x0A, 0x0D, 0x00, 'Z'}));
        ASSERT_EQ(messages.size(), 2U);
        EXPECT_EQ(messages[0].command, 101);
        EXPECT_EQ(messages[0].value, (std::vector<uint8_t>{0x00, 0x00, 0x25, 0x80}));
        EXPECT_EQ(messages[1].value, (std::vector<uint8_t>{kIac}));
        // Asked for by us, the answers need none; echo is refused.
        EXPECT_EQ(replies, (std::vector<uint8_t>{kIac, kDont, 1}));
        EXPECT_TRUE(codec.ComPortAccepted());
        std::vector<uint8_t> out;
        codec.EncodeData(std::vector<uint8_t>{0x0D, kIac, 0x00}, out);
        EXPECT_EQ(out, (std::vector<uint8_t>{0x0D, kIac, kIac, 0x00}));
    }
}

TEST(TelnetCodec, OutsideBinaryModeACrGoesWithANulAndAValueIsEscaped) {
    CTelnetCodec codec;
    std::vector<uint8_t> out;
    codec.EncodeData(std::vector<uint8_t>{'a', 0x0D, 'b'}, out);
    EXPECT_EQ(out, (std::vector<uint8_t>{'a', 0x0D, 0x00, 'b'}));
    // A speed of 255 bit/s carries an FF in its value.
    EXPECT_EQ(CTelnetCodec::ComPortCommand(comport::kSetBaudRate,
                                           std::vector<uint8_t>{0x00, 0x00, 0x00, 0xFF}),
              (std::vector<uint8_t>{telnet::kIac, telnet::kSb, telnet::kComPort, 1, 0x00, 0x00,
                                    0x00, 0xFF, 0xFF, telnet::kIac, telnet::kSe}));
}

// ser2net in front of a pty whose far side the test plays.
class DeviceServerTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(m_pty.IsOpen()); }

    void Serve(CSer2net::Mode mode) {
        m_pServer = std::make_unique<CSer2net>(m_pty.SlavePath(), mode);
        ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
    }
    // Reads from the port until `count` bytes came, waiting on the socket between reads; what
    // came within a few seconds.
    static std::vector<uint8_t> ReadPort(CSerialPort& port, size_t count) {
        std::vector<uint8_t> bytes;
        const auto deadline = Clock::now() + 5s;
        while (bytes.size() < count && Clock::now() < deadline && port.IsOpen()) {
            std::array<uint8_t, 512> chunk{};
            const int n = port.Read(chunk.data(), static_cast<int>(chunk.size()));
            bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + n);
            if (n == 0) {
                port.WaitForInput(std::chrono::ceil<std::chrono::microseconds>(
                    std::max<Clock::duration>(deadline - Clock::now(), {})));
            }
        }
        return bytes;
    }
    termios PtyLine() const {
        termios tio{};
        tcgetattr(m_pty.SlaveFd(), &tio);
        return tio;
    }

    PtyPair m_pty;
    std::unique_ptr<CSer2net> m_pServer;
};

TEST_F(DeviceServerTest, EveryByteValuePassesBothWaysUnchanged) {
    // Every value, FF (Telnet's IAC) followed by others, 0D (CR) followed by 00 (NUL).
    std::vector<uint8_t> all(256);
    std::iota(all.begin(), all.end(), 0x80);
    for (const CSer2net::Mode mode : {CSer2net::Mode::RawTcp, CSer2net::Mode::Rfc2217}) {
        Serve(mode);
        SCOPED_TRACE(m_pServer->Url());
        CSerialPort port;
        ASSERT_NE(port.OpenPath(m_pServer->Url(), {115200, 8, 0, 0}), kNullPortHandle)
            << port.FailureReason() << m_pServer->Log();
        // IAC (FF), CR and NUL among them: Telnet's escapes must be undone exactly.
        EXPECT_TRUE(port.Write(all.data(), static_cast<int>(all.size())));
        EXPECT_EQ(m_pty.ReadMaster(all.size(), 3000), all);
        ASSERT_TRUE(m_pty.WriteMaster(all.data(), all.size()));
        EXPECT_EQ(ReadPort(port, all.size()), all);
        port.Close();
        m_pServer->Stop();
    }
}

// The line the window or qd7-bus chose is the one the server puts on its port (a pty keeps the
// speed and the stop bits; it forces 8 data bits and no parity whatever is asked).
TEST_F(DeviceServerTest, TheServerSetsTheLineAsAskedAndConfirmsIt) {
    Serve(CSer2net::Mode::Rfc2217);
    struct Line {
        int speed;
        int stopBits;
    };
    for (const Line line : {Line{19200, 2}, Line{115200, 0}, Line{14400, 0}, Line{1200, 2}}) {
        SCOPED_TRACE(std::to_string(line.speed) + " bit/s, stop-bits code " +
                     std::to_string(line.stopBits));
        CSerialPort port;
        ASSERT_NE(port.OpenPath(m_pServer->Url(), {line.speed, 8, 2, line.stopBits}),
                  kNullPortHandle)
            << port.FailureReason() << m_pServer->Log();
        EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, static_cast<unsigned>(line.speed));
        EXPECT_EQ((PtyLine().c_cflag & CSTOPB) != 0, line.stopBits == 2);
    }
}

TEST_F(DeviceServerTest, ARefusedSettingFailsTheOpenWithTheReason) {
    Serve(CSer2net::Mode::Rfc2217);
    CSerialPort port;
    // ser2net does not take one and a half stop bits, and says nothing to them.
    EXPECT_EQ(port.OpenPath(m_pServer->Url(), {9600, 8, 0, 1}), kNullPortHandle);
    EXPECT_EQ(port.FailureReason(), m_pServer->Url() +
                                        ": the device server does not confirm 1.5 stop bits (no "
                                        "answer within 1 s)");
    // The connection was given up: the server, which takes one client at a time, takes the next.
    EXPECT_NE(port.OpenPath(m_pServer->Url(), {9600, 8, 0, 2}), kNullPortHandle)
        << port.FailureReason() << m_pServer->Log();
}

// A server serves one client at a time: the next one is told the server's own reason.
TEST_F(DeviceServerTest, ASecondClientIsToldWhyItIsTurnedAway) {
    for (const CSer2net::Mode mode : {CSer2net::Mode::RawTcp, CSer2net::Mode::Rfc2217}) {
        Serve(mode);
        SCOPED_TRACE(m_pServer->Url());
        CSerialPort first;
        ASSERT_NE(first.OpenPath(m_pServer->Url(), {9600, 8, 0, 0}), kNullPortHandle)
            << first.FailureReason();
        CSerialPort second;
        EXPECT_EQ(second.OpenPath(m_pServer->Url(), {9600, 8, 0, 0}), kNullPortHandle);
        EXPECT_EQ(second.FailureReason(), m_pServer->Url() + ": the server closed the "
                                                             "connection: \"Port already in use\"");
        m_pServer->Stop();
    }
}

// A server restarted (or the network gone) is an adapter unplugged: the port closes quietly and
// opens again, by the same address, when the server is back.
TEST_F(DeviceServerTest, ADroppedConnectionIsAnUnplugAndTheSameAddressOpensAgain) {
    Serve(CSer2net::Mode::Rfc2217);
    CSerialPort port;
    ASSERT_NE(port.OpenPath(m_pServer->Url(), {19200, 8, 0, 2}), kNullPortHandle)
        << port.FailureReason();
    m_pServer->Stop();
    // The wait for input ends with the connection, long before its bound.
    const auto start = Clock::now();
    EXPECT_TRUE(port.WaitForInput(20s));
    EXPECT_LT(Clock::now() - start, 10s);
    std::array<uint8_t, 16> buffer{};
    EXPECT_EQ(port.Read(buffer.data(), static_cast<int>(buffer.size())), 0);
    EXPECT_FALSE(port.IsOpen());
    EXPECT_TRUE(port.IsLost());
    EXPECT_EQ(port.Reopen(), kNullPortHandle);
    EXPECT_NE(port.FailureReason().find("connection refused"), std::string::npos)
        << port.FailureReason();
    EXPECT_TRUE(port.IsLost());

    ASSERT_TRUE(m_pServer->Start()) << m_pServer->Log();
    ASSERT_NE(port.Reopen(), kNullPortHandle) << port.FailureReason() << m_pServer->Log();
    EXPECT_FALSE(port.IsLost());
    // With the line it had: the server set it again.
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 19200U);
    EXPECT_NE(PtyLine().c_cflag & CSTOPB, 0U);
    const std::vector<uint8_t> frame = {0x02, 'x', 0x03};
    EXPECT_TRUE(port.Write(frame.data(), static_cast<int>(frame.size())));
    EXPECT_EQ(m_pty.ReadMaster(frame.size(), 3000), frame);
}

} // namespace
