// qd7-bus watch --publish against a real broker under the faults a plant has: a network that is
// slow, cut at the wrong moment or silently dead (through an MQTT-aware proxy), a broker of MQTT
// 3.1.1, ACLs that deny the prefix or let the account only write, and TLS certificates that must
// not be taken. Nothing lost or doubled at the broker, every reading accounted for.
#include <signal.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/cli/PublishFixture.h"
#include "tests/support/MqttProxy.h"
#include "tests/support/ServerProcess.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

using Direction = CMqttProxy::Direction;

struct NetworkFault {
    const char* name;
    std::vector<std::string> extra; // options of the watch
    // What the proxy does once the readings flow; false when it did not strike.
    bool (*strike)(CMqttProxy& proxy);
    bool bDrops = false; // readings may be dropped from the full queue, each counted
};

// Named, not dumped as bytes, in the tests' names.
void PrintTo(const NetworkFault& fault, std::ostream* os) {
    *os << fault.name;
}

bool CutAfterBlocking(CMqttProxy& proxy, Direction direction, int packetType) {
    proxy.BlockThenCut(direction, packetType, 2, 300ms);
    return proxy.WaitCut(kPublishWait) && proxy.WaitConnections(2, kPublishWait);
}

const std::vector<NetworkFault> kNetworkFaults = {
    {"Latency", {}, [](CMqttProxy&) { return true; }},
    {"PubrecHeldThenCut",
     {},
     [](CMqttProxy& p) { return CutAfterBlocking(p, Direction::ToClient, CMqttProxy::kPubrec); }},
    {"PubcompHeldThenCut",
     {},
     [](CMqttProxy& p) { return CutAfterBlocking(p, Direction::ToClient, CMqttProxy::kPubcomp); }},
    {"PublishSwallowedThenCut",
     {},
     [](CMqttProxy& p) { return CutAfterBlocking(p, Direction::ToBroker, CMqttProxy::kPublish); }},
    {"PubrelSwallowedThenCut",
     {},
     [](CMqttProxy& p) { return CutAfterBlocking(p, Direction::ToBroker, CMqttProxy::kPubrel); }},
    {"SilentlyDead",
     {"--keepalive", "5"},
     [](CMqttProxy& p) {
         p.GoSilent();
         return p.WaitConnections(2, kPublishWait);
     }},
    {"BrokerOfMqtt311",
     {},
     [](CMqttProxy& p) { return CutAfterBlocking(p, Direction::ToClient, CMqttProxy::kPubrec); }},
    {"SlowerThanTheBusWithASmallQueue",
     {"--queue", "4", "--inflight", "2", "--interval", "0"},
     [](CMqttProxy&) { return true; },
     true},
};

class BusPublishNetwork : public PublishTest, public ::testing::WithParamInterface<NetworkFault> {};

TEST_P(BusPublishNetwork, NothingIsLostOrDoubledAtTheBrokerAndEveryDropIsCounted) {
    const NetworkFault& fault = GetParam();
    CMqttProxy proxy(m_broker.Port());
    ASSERT_TRUE(proxy.Start());
    proxy.SetLatency(fault.bDrops ? 50ms : 10ms);
    const bool b311 = std::string(fault.name) == "BrokerOfMqtt311";
    proxy.RefuseMqtt5(b311);
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/#", "qd7-test-net", 2);
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait)) << m_broker.Log();
    std::vector<std::string> extra = {"--publish", Url(proxy.Port())};
    extra.insert(extra.end(), fault.extra.begin(), fault.extra.end());
    CSimProcess bus(Watch(extra));
    const std::string p0 = std::string(kPrefix) + "/07/P0";
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages& m) { return Live(m, p0).size() >= 5; },
                                   kPublishWait))
        << bus.ReadErr();
    ASSERT_TRUE(fault.strike(proxy)) << fault.name;
    // The readings flow again after the fault.
    const size_t before = Live(subscriber.Messages(), p0).size();
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) { return Live(m, p0).size() >= before + 5; }, kPublishWait))
        << bus.ReadErr();
    ASSERT_TRUE(bus.Signal(SIGINT));
    const std::optional<int> code = bus.WaitExit(kPublishWait);
    const std::string out = bus.ReadOut();
    const std::string err = bus.ReadErr();
    const long sent = CountBefore(err, "readings sent");
    const long dropped = CountBefore(err, "dropped from the full queue");
    EXPECT_EQ(CountBefore(err, "refused by the broker"), 0) << err;
    EXPECT_EQ(CountBefore(err, "not sent"), 0) << err;
    EXPECT_EQ(sent + dropped, static_cast<long>(RowCount(out))) << err;
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) {
            return Live(m, p0).size() + Live(m, std::string(kPrefix) + "/12/P0").size() >=
                   static_cast<size_t>(sent);
        },
        kPublishWait))
        << err << m_broker.Log();
    const Messages messages = subscriber.Messages();
    if (!fault.bDrops) {
        EXPECT_EQ(code, 130) << err; // ended by the signal, every reading delivered
        EXPECT_EQ(dropped, 0) << err;
        ExpectEachRowOnce(out, messages);
    } else {
        // The readings that arrived are rows, each once and in order; the rest were counted.
        EXPECT_EQ(code, 5) << err;
        EXPECT_GT(dropped, 0) << err;
        EXPECT_NE(err.find("the broker takes readings slower than the bus gives them"),
                  std::string::npos)
            << err;
        for (const int address : {7, 12}) {
            const std::vector<std::string> rows = RowsOf(out, address);
            const std::vector<std::string> live =
                Live(messages, std::string(kPrefix) + (address == 7 ? "/07/P0" : "/12/P0"));
            auto row = rows.begin();
            for (const std::string& payload : live) {
                row = std::find(row, rows.end(), payload);
                ASSERT_NE(row, rows.end()) << "not a row, twice or out of order: " << payload;
                ++row;
            }
        }
    }
    if (b311) {
        EXPECT_NE(err.find("the broker speaks MQTT 3.1.1, not 5"), std::string::npos) << err;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, BusPublishNetwork, ::testing::ValuesIn(kNetworkFaults),
                         [](const ::testing::TestParamInfo<NetworkFault>& info) {
                             return info.param.name;
                         });

// ACLs: a prefix the account may not write to is refused with the broker's reason, counted, and
// the exit code says so; a write-only account (it cannot read back) gets no duplicates under
// cuts before and after delivery.
class BusPublishAcl : public PublishTest {
protected:
    void SetUp() override {
        PublishTest::SetUp();
        m_broker.Stop();
        ASSERT_TRUE(m_broker.RequireLogin("meters", "m3ters"));
        ASSERT_TRUE(m_broker.RequireLogin("reader", "r3ader"));
        ASSERT_TRUE(m_broker.SetAcl("user meters\ntopic write plant/line1/#\n"
                                    "user reader\ntopic read plant/#\n"));
        ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    }
    std::vector<std::string> WatchAs(std::string url, std::vector<std::string> extra) {
        std::vector<std::string> args = {"/usr/bin/env", "QD7_MQTT_PASSWORD=m3ters"};
        extra.insert(extra.begin(), {"--publish", url});
        const std::vector<std::string> watch = Watch(extra);
        args.insert(args.end(), watch.begin(), watch.end());
        return args;
    }
};

TEST_F(BusPublishAcl, ADeniedPrefixIsRefusedWithTheBrokersReasonAndExitCode5) {
    const std::string url =
        "mqtt://meters@127.0.0.1:" + std::to_string(m_broker.Port()) + "/plant/line2";
    CSimProcess bus(WatchAs(url, {"--count", "3"}));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 5);
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find("qd7-bus: mqtt: the broker refused plant/line2/07/P0: not authorized, "
                       "reason 0x87"),
              std::string::npos)
        << err;
    EXPECT_EQ(CountBefore(err, "readings sent"), 0) << err;
    EXPECT_EQ(CountBefore(err, "refused by the broker"), 6) << err;
}

TEST_F(BusPublishAcl, AWriteOnlyAccountGetsNoDuplicatesUnderCuts) {
    CMqttProxy proxy(m_broker.Port());
    ASSERT_TRUE(proxy.Start());
    CMqttSubscriber subscriber(m_broker.Port(), "plant/#", "qd7-test-reader", 2,
                               {"reader", "r3ader"});
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait));
    CSimProcess bus(WatchAs(Url(proxy.Port(), "meters"), {}));
    const std::string p0 = std::string(kPrefix) + "/07/P0";
    int connections = 1;
    for (const auto& [direction, type] : {std::pair{Direction::ToClient, CMqttProxy::kPubrec},
                                          std::pair{Direction::ToClient, CMqttProxy::kPubcomp},
                                          std::pair{Direction::ToBroker, CMqttProxy::kPubrel}}) {
        const size_t before = Live(subscriber.Messages(), p0).size();
        ASSERT_TRUE(subscriber.WaitFor(
            [&](const Messages& m) { return Live(m, p0).size() >= before + 3; }, kPublishWait))
            << bus.ReadErr();
        proxy.BlockThenCut(direction, type, 1, 300ms);
        ASSERT_TRUE(proxy.WaitCut(kPublishWait));
        ASSERT_TRUE(proxy.WaitConnections(++connections, kPublishWait));
    }
    const size_t before = Live(subscriber.Messages(), p0).size();
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) { return Live(m, p0).size() >= before + 3; }, kPublishWait));
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 130);
    const std::string out = bus.ReadOut();
    ASSERT_TRUE(WaitEveryRow(subscriber, out));
    ExpectEachRowOnce(out, subscriber.Messages());
}

// TLS with certificates made here: the right ones let the readings through; a certificate for
// another name, an expired one, or one from a CA not named, end the watch at the first attempt
// with exit code 5 and OpenSSL's reason, instead of being taken for a broker that is away.
struct TlsCase {
    const char* name;
    const char* certificate; // the broker's, made in SetUpTestSuite
    const char* caFile;      // given with --ca-file
    int nExit;
    const char* reason;
};

void PrintTo(const TlsCase& tls, std::ostream* os) {
    *os << tls.name;
}

class BusPublishTls : public PublishTest, public ::testing::WithParamInterface<TlsCase> {
public:
    static void SetUpTestSuite() {
        s_pDir = new CTempDir;
        const std::string d = s_pDir->Path();
        const auto run = [&](const std::string& command) {
            return RunProgram({"/bin/sh", "-c", "cd " + d + " && " + command}, d + "/openssl.log");
        };
        const std::string key = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        const std::string sign = " -CAcreateserial -copy_extensions copy";
        s_bMade =
            run("openssl req -x509 " + key +
                " -keyout ca.key -out ca.pem -days 2 -subj /CN=qd7-ca") == 0 &&
            run("openssl req -x509 " + key +
                " -keyout other.key -out other.pem -days 2 -subj /CN=other") == 0 &&
            run("openssl req " + key +
                " -keyout server.key -out good.csr -subj /CN=localhost "
                "-addext subjectAltName=IP:127.0.0.1,DNS:localhost") == 0 &&
            run("openssl req -key server.key -new -out wrong.csr -subj /CN=elsewhere "
                "-addext subjectAltName=DNS:elsewhere.example") == 0 &&
            run("openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -out good.pem -days 2" +
                sign) == 0 &&
            run("openssl x509 -req -in wrong.csr -CA ca.pem -CAkey ca.key -out wrong.pem -days 2" +
                sign) == 0 &&
            run("openssl x509 -req -in good.csr -CA ca.pem -CAkey ca.key -out expired.pem -days "
                "-1" +
                sign) == 0;
    }
    static void TearDownTestSuite() {
        delete s_pDir;
        s_pDir = nullptr;
    }

protected:
    static CTempDir* s_pDir;
    static bool s_bMade;
};
CTempDir* BusPublishTls::s_pDir = nullptr;
bool BusPublishTls::s_bMade = false;

TEST_P(BusPublishTls, OnlyTheRightCertificateIsTakenAndAWrongOneEndsTheWatchAtOnce) {
    const TlsCase& tls = GetParam();
    ASSERT_TRUE(s_bMade) << ReadTextFile(s_pDir->Path() + "/openssl.log");
    const std::string d = s_pDir->Path() + "/";
    m_broker.Stop();
    m_broker.UseTls(d + tls.certificate, d + "server.key");
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    // No --count: only the end of publishing ends a watch with a wrong certificate.
    std::vector<std::string> extra = {
        "--publish", "mqtts://127.0.0.1:" + std::to_string(m_broker.Port()) + "/" + kPrefix,
        "--ca-file", d + tls.caFile};
    if (tls.nExit == 0) {
        extra.insert(extra.end(), {"--count", "3"});
    }
    CSimProcess bus(Watch(extra));
    EXPECT_EQ(bus.WaitExit(kPublishWait), tls.nExit);
    const std::string err = bus.ReadErr();
    if (tls.nExit == 0) {
        EXPECT_EQ(CountBefore(err, "readings sent"), 6) << err;
    } else {
        EXPECT_NE(err.find("qd7-bus: mqtt: 127.0.0.1:" + std::to_string(m_broker.Port()) +
                           ": TLS failed: the broker's certificate" + tls.reason),
                  std::string::npos)
            << err;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Certificates, BusPublishTls,
    ::testing::Values(TlsCase{"Good", "good.pem", "ca.pem", 0, ""},
                      TlsCase{"WrongName", "wrong.pem", "ca.pem", 5, " is not for 127.0.0.1"},
                      TlsCase{"Expired", "expired.pem", "ca.pem", 5, ": certificate has expired"},
                      TlsCase{"UntrustedCa", "good.pem", "other.pem", 5,
                              ": unable to get local issuer certificate"}),
    [](const ::testing::TestParamInfo<TlsCase>& info) { return info.param.name; });

} // namespace
