// qd7-bus watch --publish against a real broker (mosquitto on 127.0.0.1) and the simulator, both
// run as programs: the topics and payloads, the retained last values, a broker restarted while
// the watch runs (with and without its persistence), the broker's last will when qd7-bus is
// killed, the login, the spool across a restart of qd7-bus, and Home Assistant's discovery.
#include <signal.h>

#include <string>
#include <vector>

#include "tests/cli/PublishFixture.h"
#include "tests/support/MqttProxy.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

const std::string kP0_07 = std::string(kPrefix) + "/07/P0";
const std::string kP0_12 = std::string(kPrefix) + "/12/P0";
const std::string kStatus = std::string(kPrefix) + "/status";

using BusPublish = PublishTest;

TEST_F(BusPublish, EveryReadingReachesTheBrokerInOrderThroughARestart) {
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/#", "qd7-test-plant", 2);
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait)) << m_broker.Log();
    CSimProcess bus(Watch({"--interval", "100", "--publish", Url()}));
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages& m) { return Live(m, kP0_07).size() >= 3; },
                                   kPublishWait))
        << bus.ReadErr();

    // The broker goes for a while: the watch goes on, and its readings wait.
    m_broker.Stop();
    size_t rowsAtStop = 0;
    ASSERT_TRUE(bus.WaitForOut(
        [&](const std::string& out) {
            rowsAtStop = rowsAtStop == 0 ? RowCount(out) : rowsAtStop;
            return RowCount(out) >= rowsAtStop + 20;
        },
        kPublishWait));
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) { return Live(m, kP0_07).size() >= rowsAtStop / 2 + 10; },
        kPublishWait))
        << bus.ReadErr();
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 130) << "interrupted, every reading delivered";
    const std::string out = bus.ReadOut();
    const std::string err = bus.ReadErr();
    const std::string where = "qd7-bus: mqtt: 127.0.0.1:" + std::to_string(m_broker.Port());
    EXPECT_NE(err.find(where + ": connection lost ("), std::string::npos) << err;
    EXPECT_NE(err.find(where + ": connected again after "), std::string::npos) << err;
    EXPECT_EQ(CountBefore(err, "readings sent"), static_cast<long>(RowCount(out))) << err;

    // Each meter's readings, all of them, in order, none twice: exactly the rows of the output.
    ASSERT_TRUE(WaitEveryRow(subscriber, out));
    const Messages messages = subscriber.Messages();
    ExpectEachRowOnce(out, messages);
    EXPECT_EQ(Live(messages, std::string(kPrefix) + "/07/status").front(), "ok");
    EXPECT_EQ(Live(messages, kStatus).front(), "online");

    // A subscriber that comes later gets the last reading and that qd7-bus has gone, at once.
    EXPECT_EQ(Retained(m_broker.Port(), kP0_07, "qd7-test-late"), RowsOf(out, 7).back());
    EXPECT_EQ(Retained(m_broker.Port(), kStatus, "qd7-test-late2"), "offline");
}

// The retained topics say what a dashboard needs at once: the last good value (a reading without
// one is published, not kept), each meter's status, and that qd7-bus is there, again after a
// broker that lost them all in a restart without persistence.
TEST_F(BusPublish, RetainedTopicsHoldTheLastGoodValueAndComeBackAfterTheBrokerLostThem) {
    m_broker.Stop();
    m_broker.SetPersistence(false);
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    CSimProcess sim({QD7_SIM_PROGRAM, "--meters", "07,12", "--silent", "12:1:600"});
    const std::optional<std::string> device = sim.FirstLine(kPublishWait);
    ASSERT_TRUE(device.has_value());
    CSimProcess bus(Watch({"--publish", Url()}, *device));
    const auto silentRows = [](const std::string& out) {
        size_t n = 0;
        for (const std::string& row : RowsOf(out, 12)) {
            n += row.find("\"status\":\"silent\"") != std::string::npos ? 1 : 0;
        }
        return n;
    };
    ASSERT_TRUE(
        bus.WaitForOut([&](const std::string& out) { return silentRows(out) >= 3; }, kPublishWait));
    std::string lastGood;
    ASSERT_TRUE(bus.WaitForOut(
        [&](const std::string& out) {
            for (const std::string& row : RowsOf(out, 12)) {
                lastGood = row.find("\"status\":\"ok\"") != std::string::npos ? row : lastGood;
            }
            return true;
        },
        kPublishWait));
    ASSERT_FALSE(lastGood.empty());
    EXPECT_EQ(Retained(m_broker.Port(), kP0_12, "qd7-test-good"), lastGood);
    EXPECT_EQ(Retained(m_broker.Port(), std::string(kPrefix) + "/12/status", "qd7-test-s12"),
              "silent");

    m_broker.Stop();
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    CMqttSubscriber online(m_broker.Port(), kStatus, "qd7-test-online");
    ASSERT_TRUE(online.WaitFor(
        [](const Messages& m) { return !m.empty() && m.back().payload == "online"; }, kPublishWait))
        << bus.ReadErr();
    EXPECT_EQ(Retained(m_broker.Port(), std::string(kPrefix) + "/12/status", "qd7-test-s12b"),
              "silent");
    EXPECT_EQ(Retained(m_broker.Port(), std::string(kPrefix) + "/07/status", "qd7-test-s07"), "ok");
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 130) << "ended by the signal";
}

// Killed, qd7-bus says nothing more; the broker says it for it, by its last will.
TEST_F(BusPublish, AKilledWatchIsOfflineByItsLastWill) {
    CMqttSubscriber subscriber(m_broker.Port(), kStatus, "qd7-test-will");
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait));
    CSimProcess bus(Watch({"--publish", Url()}));
    ASSERT_TRUE(subscriber.WaitFor(
        [](const Messages& m) { return !m.empty() && m.back().payload == "online"; },
        kPublishWait));
    ASSERT_TRUE(bus.Signal(SIGKILL));
    ASSERT_TRUE(subscriber.WaitFor([](const Messages& m) { return m.back().payload == "offline"; },
                                   kPublishWait));
    EXPECT_EQ(Retained(m_broker.Port(), kStatus, "qd7-test-will2"), "offline");
}

// A broker that is not there at the start is no error for the watch: it logs, and says so once.
// Still away at the end, the end tries it once more, then tells by its exit code that no reading
// was delivered.
TEST_F(BusPublish, ABrokerAwayToTheEndIsSaidAndEndsWithExitCode5) {
    m_broker.Stop();
    CSimProcess bus(Watch({"--count", "5", "--publish", Url()}));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 5);
    EXPECT_EQ(RowCount(bus.ReadOut()), 10U);
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find(": cannot connect ("), std::string::npos) << err;
    EXPECT_EQ(CountBefore(err, "readings sent"), 0) << err;
    EXPECT_EQ(CountBefore(err, "not sent"), 10) << err;
}

// Ctrl+C while a reconnect waits out its back-off (8 s after the third attempt failed): the end
// connects at once and sends the queue, instead of leaving it to a next attempt that would come
// after the end has given up.
TEST_F(BusPublish, TheEndCutsABackOffShortAndSendsTheQueue) {
    CMqttProxy proxy(m_broker.Port()); // counts the attempts
    ASSERT_TRUE(proxy.Start());
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/#", "qd7-test-end", 2);
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait));
    CSimProcess bus(Watch({"--publish", Url(proxy.Port())}));
    ASSERT_TRUE(subscriber.WaitFor([&](const Messages& m) { return Live(m, kP0_07).size() >= 2; },
                                   kPublishWait));
    m_broker.Stop();
    ASSERT_TRUE(proxy.WaitConnections(1 + 3, kPublishWait)) << "three attempts 1, 2 and 4 s apart";
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 130);
    const std::string out = bus.ReadOut();
    const std::string err = bus.ReadErr();
    EXPECT_EQ(CountBefore(err, "not sent"), 0) << err;
    ASSERT_TRUE(WaitEveryRow(subscriber, out));
    ExpectEachRowOnce(out, subscriber.Messages());
}

// The password from a file or the environment lets the user in; a wrong one at the start ends
// the watch with exit code 5 and the broker's reason. Refused later (the broker's passwords
// changed), the watch and its rows go on, and the end tells by its exit code.
TEST_F(BusPublish, TheLoginTakesItsPasswordAndARefusalEndsTheWatchOnlyAtTheStart) {
    m_broker.Stop();
    ASSERT_TRUE(m_broker.RequireLogin("meters", "s3cret"));
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    CTempDir dir;
    const std::string file = WriteFile(dir.Path() + "/password", "s3cret\n");
    const auto env = [&](const std::string& password, std::vector<std::string> extra) {
        std::vector<std::string> args = {"/usr/bin/env"};
        args.push_back(password.empty() ? "-u" : "QD7_MQTT_PASSWORD=" + password);
        if (password.empty()) {
            args.emplace_back("QD7_MQTT_PASSWORD");
        }
        const std::vector<std::string> watch = Watch(extra);
        args.insert(args.end(), watch.begin(), watch.end());
        return args;
    };
    const std::string url = Url(0, "meters");
    const std::string where = "qd7-bus: mqtt: 127.0.0.1:" + std::to_string(m_broker.Port());
    {
        CSimProcess bus(env("wrong", {"--publish", url}));
        EXPECT_EQ(bus.WaitExit(kPublishWait), 5);
        const std::string err = bus.ReadErr();
        // mosquitto answers a wrong password with "not authorized".
        EXPECT_NE(err.find(where + ": the broker refused the login (not authorized, reason 0x87)"),
                  std::string::npos)
            << err;
    }
    {
        CSimProcess bus(env("s3cret", {"--count", "3", "--publish", url}));
        EXPECT_EQ(bus.WaitExit(kPublishWait), 0) << bus.ReadErr();
        EXPECT_EQ(CountBefore(bus.ReadErr(), "readings sent"), 6);
    }
    {
        // The file named on the command line wins over the environment, and says so.
        CSimProcess bus(env("wrong", {"--count", "3", "--publish", url, "--password-file", file}));
        EXPECT_EQ(bus.WaitExit(kPublishWait), 0);
        const std::string err = bus.ReadErr();
        EXPECT_NE(err.find("the password comes from --password-file, not from "
                           "$QD7_MQTT_PASSWORD"),
                  std::string::npos)
            << err;
    }
    CSimProcess bus(env("", {"--publish", url, "--password-file", file}));
    CMqttSubscriber subscriber(m_broker.Port(), kStatus, "qd7-test-login", 1, {"meters", "s3cret"});
    ASSERT_TRUE(subscriber.WaitFor(
        [](const Messages& m) { return !m.empty() && m.back().payload == "online"; },
        kPublishWait));
    m_broker.Stop();
    ASSERT_TRUE(m_broker.RequireLogin("meters", "changed"));
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    size_t rows = 0;
    ASSERT_TRUE(bus.WaitForOut(
        [&](const std::string& out) {
            rows = rows == 0 ? RowCount(out) : rows;
            return RowCount(out) >= rows + 20;
        },
        kPublishWait))
        << "the rows go on";
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 5);
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find(where + ": the broker refused the login (not authorized, reason 0x87); "
                               "the watch goes on"),
              std::string::npos)
        << err;
}

// --spool: readings not yet on the broker are on disk. The watch ends while the broker is away,
// by SIGTERM or killed; the next start sends them first, each once and in order, then its own.
class BusPublishSpool : public PublishTest, public ::testing::WithParamInterface<int> {};

TEST_P(BusPublishSpool, ReadingsLeftWhileTheBrokerIsAwayArriveOnceAfterARestart) {
    const int signal = GetParam();
    m_broker.Stop();
    CTempDir dir;
    const std::string spool = dir.Path() + "/readings.spool";
    std::string firstOut;
    {
        CSimProcess bus(Watch({"--publish", Url(), "--spool", spool}));
        ASSERT_TRUE(bus.WaitForOut([](const std::string& out) { return RowCount(out) >= 20; },
                                   kPublishWait));
        ASSERT_TRUE(bus.Signal(signal));
        const std::optional<int> code = bus.WaitExit(kPublishWait);
        firstOut = bus.ReadOut();
        const std::string err = bus.ReadErr();
        if (signal == SIGTERM) {
            // Kept in the spool is no loss: the exit code is the watch's own, ended by a signal.
            EXPECT_EQ(code, 130) << err;
            EXPECT_EQ(CountBefore(err, "kept in the spool"), static_cast<long>(RowCount(firstOut)))
                << err;
        }
    }
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/#", "qd7-test-spool", 2);
    ASSERT_TRUE(subscriber.WaitSubscribed(kPublishWait));
    CSimProcess bus(Watch({"--count", "3", "--publish", Url(), "--spool", spool}));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 0);
    const std::string out = firstOut + bus.ReadOut();
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find("holds " + std::to_string(RowCount(firstOut)) + " readings not yet sent"),
              std::string::npos)
        << err;
    EXPECT_EQ(CountBefore(err, "kept in the spool"), 0) << err;
    ASSERT_TRUE(WaitEveryRow(subscriber, out));
    ExpectEachRowOnce(out, subscriber.Messages());
}

INSTANTIATE_TEST_SUITE_P(Signals, BusPublishSpool, ::testing::Values(SIGTERM, SIGKILL),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param == SIGTERM ? "SIGTERM" : "SIGKILL";
                         });

// Home Assistant finds a sensor per meter and register in the retained config topics.
TEST_F(BusPublish, HomeAssistantDiscoveryConfigsAreRetainedForEachMeter) {
    CSimProcess bus(
        Watch({"--count", "2", "--publish", Url(), "--ha-discovery=ha", "--unit", "m3/h"}));
    EXPECT_EQ(bus.WaitExit(kPublishWait), 0) << bus.ReadErr();
    const std::optional<std::string> config =
        Retained(m_broker.Port(), "ha/sensor/qd7_plant_line1_07/P0/config", "qd7-test-ha");
    ASSERT_TRUE(config.has_value());
    for (const std::string field :
         {R"("unique_id":"qd7_plant_line1_07_P0")", R"("state_topic":"plant/line1/07/P0")",
          R"("value_template":"{{ value_json.value }}")", R"("unit_of_measurement":"m3/h")",
          R"({"topic":"plant/line1/status"})", R"("topic":"plant/line1/07/status")",
          R"("identifiers":["qd7_plant_line1_07"])"}) {
        EXPECT_NE(config->find(field), std::string::npos) << field << " in " << *config;
    }
    EXPECT_TRUE(
        Retained(m_broker.Port(), "ha/sensor/qd7_plant_line1_12/P0/config", "qd7-test-ha2"));
}

} // namespace
