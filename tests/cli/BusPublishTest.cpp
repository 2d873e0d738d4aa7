// qd7-bus watch --publish against a real broker (mosquitto on 127.0.0.1) and the simulator, both
// run as programs: the topics and payloads, the retained last values, a broker restarted while
// the watch runs, and the broker's last will when qd7-bus is killed.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tests/sim/SimProcess.h"
#include "tests/support/Mosquitto.h"
#include "tests/support/TempDir.h"

using namespace std::chrono_literals;

namespace {

constexpr auto kWait = 20s;
constexpr const char* kPrefix = "plant/line1";

using Messages = std::vector<CMqttSubscriber::Message>;

// The payloads published live (not a retained copy sent on subscribing) on one topic, in order.
std::vector<std::string> Live(const Messages& messages, const std::string& topic) {
    std::vector<std::string> payloads;
    for (const auto& m : messages) {
        if (m.topic == topic && !m.bRetained) {
            payloads.push_back(m.payload);
        }
    }
    return payloads;
}

// The payloads with a repeat of the one just before taken out, and how many there were. A broker
// that stops while it hands a QoS 1 message to a subscriber hands it over again once it is back
// (at least once, on its own hop to the subscriber): the same reading, with its own time, right
// after itself.
std::pair<std::vector<std::string>, size_t> WithoutRedelivery(std::vector<std::string> payloads) {
    const auto end = std::unique(payloads.begin(), payloads.end());
    const auto repeats = static_cast<size_t>(payloads.end() - end);
    payloads.erase(end, payloads.end());
    return {payloads, repeats};
}

// The json rows of one meter on stdout, in order, without their newlines.
std::vector<std::string> RowsOf(const std::string& out, int address) {
    const std::string key = "\"address\":" + std::to_string(address) + ",";
    std::vector<std::string> rows;
    for (size_t start = 0, end; (end = out.find('\n', start)) != std::string::npos;
         start = end + 1) {
        const std::string row = out.substr(start, end - start);
        if (row.find(key) != std::string::npos) {
            rows.push_back(row);
        }
    }
    return rows;
}

size_t RowCount(const std::string& out) {
    return static_cast<size_t>(std::count(out.begin(), out.end(), '\n'));
}

// What a subscriber that comes now is given at once: the retained message of `topic`.
std::optional<std::string> Retained(uint16_t port, const std::string& topic, const char* id) {
    CMqttSubscriber late(port, topic, id);
    if (!late.WaitFor([](const Messages& m) { return !m.empty(); }, kWait)) {
        return std::nullopt;
    }
    return late.Messages().front().payload;
}

class BusPublish : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
        m_device = m_sim.FirstLine(kWait);
        ASSERT_TRUE(m_device.has_value());
    }
    std::string Url() const {
        return "mqtt://127.0.0.1:" + std::to_string(m_broker.Port()) + "/" + kPrefix;
    }

    CMosquittoBroker m_broker;
    CSimProcess m_sim{{QD7_SIM_PROGRAM, "--meters", "07,12"}};
    std::optional<std::string> m_device;
};

TEST_F(BusPublish, EveryReadingReachesTheBrokerInOrderThroughARestart) {
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/#", "qd7-test-plant");
    ASSERT_TRUE(subscriber.WaitSubscribed(kWait)) << m_broker.Log();
    CSimProcess bus({QD7_BUS_PROGRAM, "--port", *m_device, "--format", "json", "watch", "07", "12",
                     "--interval", "100", "--publish", Url()});
    const std::string p0 = std::string(kPrefix) + "/07/P0";
    ASSERT_TRUE(
        subscriber.WaitFor([&](const Messages& m) { return Live(m, p0).size() >= 3; }, kWait))
        << bus.ReadErr();

    // The broker goes for a while: the watch goes on, and its readings wait.
    m_broker.Stop();
    size_t rowsAtStop = 0;
    ASSERT_TRUE(bus.WaitForOut(
        [&](const std::string& out) {
            rowsAtStop = rowsAtStop == 0 ? RowCount(out) : rowsAtStop;
            return RowCount(out) >= rowsAtStop + 20;
        },
        kWait));
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    size_t rowsAfter = 0;
    ASSERT_TRUE(bus.WaitForOut(
        [&](const std::string& out) {
            rowsAfter = RowCount(out);
            return true;
        },
        kWait));
    // Everything logged by now reaches the subscriber once the broker is back.
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) { return Live(m, p0).size() * 2 >= rowsAfter; }, kWait))
        << bus.ReadErr();
    ASSERT_TRUE(bus.Signal(SIGINT));
    EXPECT_EQ(bus.WaitExit(kWait), 130) << "interrupted";
    const std::string out = bus.ReadOut();
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find("qd7-bus: mqtt: 127.0.0.1:" + std::to_string(m_broker.Port()) +
                       ": connection lost"),
              std::string::npos)
        << err;

    // Each meter's readings, all of them, in order, none twice: exactly the rows of the output.
    ASSERT_TRUE(subscriber.WaitFor(
        [&](const Messages& m) {
            return Live(m, p0).size() >= RowsOf(out, 7).size() &&
                   Live(m, std::string(kPrefix) + "/12/P0").size() >= RowsOf(out, 12).size();
        },
        kWait));
    const Messages messages = subscriber.Messages();
    const auto [meter7, repeats7] = WithoutRedelivery(Live(messages, p0));
    const auto [meter12, repeats12] =
        WithoutRedelivery(Live(messages, std::string(kPrefix) + "/12/P0"));
    EXPECT_EQ(meter7, RowsOf(out, 7));
    EXPECT_EQ(meter12, RowsOf(out, 12));
    // At most the one message the broker was handing over when it stopped.
    EXPECT_LE(repeats7 + repeats12, 1U);
    EXPECT_EQ(Live(messages, std::string(kPrefix) + "/07/status").front(), "ok");
    EXPECT_EQ(Live(messages, std::string(kPrefix) + "/status").front(), "online");

    // A subscriber that comes later gets the last reading and that qd7-bus has gone, at once.
    EXPECT_EQ(Retained(m_broker.Port(), p0, "qd7-test-late"), RowsOf(out, 7).back());
    EXPECT_EQ(Retained(m_broker.Port(), std::string(kPrefix) + "/status", "qd7-test-late2"),
              "offline");
}

// Killed, qd7-bus says nothing more; the broker says it for it, by its last will.
TEST_F(BusPublish, AKilledWatchIsOfflineByItsLastWill) {
    CMqttSubscriber subscriber(m_broker.Port(), std::string(kPrefix) + "/status", "qd7-test-will");
    ASSERT_TRUE(subscriber.WaitSubscribed(kWait));
    CSimProcess bus({QD7_BUS_PROGRAM, "--port", *m_device, "watch", "07", "--interval", "100",
                     "--publish", Url()});
    ASSERT_TRUE(subscriber.WaitFor(
        [](const Messages& m) { return !m.empty() && m.back().payload == "online"; }, kWait));
    ASSERT_TRUE(bus.Signal(SIGKILL));
    ASSERT_TRUE(
        subscriber.WaitFor([](const Messages& m) { return m.back().payload == "offline"; }, kWait));
    EXPECT_EQ(Retained(m_broker.Port(), std::string(kPrefix) + "/status", "qd7-test-will2"),
              "offline");
}

// A broker that is not there at the start is no error: the watch logs, and says it once.
TEST_F(BusPublish, ABrokerAwayAtTheStartIsNoError) {
    m_broker.Stop();
    CSimProcess bus({QD7_BUS_PROGRAM, "--port", *m_device, "watch", "07", "--interval", "50",
                     "--count", "5", "--publish", Url()});
    EXPECT_EQ(bus.WaitExit(kWait), 0);
    EXPECT_EQ(RowCount(bus.ReadOut()), 5U);
    const std::string err = bus.ReadErr();
    EXPECT_NE(err.find(": cannot connect ("), std::string::npos) << err;
    EXPECT_NE(err.find("5 readings were not sent: the broker was away at the end"),
              std::string::npos)
        << err;
}

// The password from the environment or a file lets the user in; a wrong one ends the watch with
// its own exit code and the broker's reason, instead of logging on as if all were well.
TEST_F(BusPublish, TheLoginTakesThePasswordFromTheEnvironmentOrAFileAndARefusalEndsTheWatch) {
    m_broker.Stop();
    ASSERT_TRUE(m_broker.RequireLogin("meters", "s3cret"));
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    const std::string url =
        "mqtt://meters@127.0.0.1:" + std::to_string(m_broker.Port()) + "/" + kPrefix;
    const std::vector<std::string> watch = {"--port", *m_device, "watch", "07",        "--interval",
                                            "50",     "--count", "3",     "--publish", url};
    const auto run = [&](const std::vector<std::string>& prefix, std::vector<std::string> extra) {
        std::vector<std::string> args = prefix;
        args.push_back(QD7_BUS_PROGRAM);
        args.insert(args.end(), watch.begin(), watch.end());
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    };
    {
        CSimProcess bus(run({"/usr/bin/env", "QD7_MQTT_PASSWORD=wrong"}, {}));
        EXPECT_EQ(bus.WaitExit(kWait), 5);
        const std::string err = bus.ReadErr();
        EXPECT_NE(err.find("qd7-bus: mqtt: 127.0.0.1:" + std::to_string(m_broker.Port()) +
                           ": the broker refused the login"),
                  std::string::npos)
            << err;
    }
    // The right password: let in (a refusal would end it with 5), every row logged.
    {
        CSimProcess bus(run({"/usr/bin/env", "QD7_MQTT_PASSWORD=s3cret"}, {}));
        EXPECT_EQ(bus.WaitExit(kWait), 0) << bus.ReadErr();
        EXPECT_EQ(RowCount(bus.ReadOut()), 3U);
    }
    CTempDir dir;
    const std::string file = dir.Path() + "/password";
    std::FILE* pFile = std::fopen(file.c_str(), "w");
    ASSERT_NE(pFile, nullptr);
    std::fputs("s3cret\n", pFile);
    std::fclose(pFile);
    {
        CSimProcess bus(
            run({"/usr/bin/env", "-u", "QD7_MQTT_PASSWORD"}, {"--password-file", file}));
        EXPECT_EQ(bus.WaitExit(kWait), 0) << bus.ReadErr();
        const std::string err = bus.ReadErr();
        EXPECT_EQ(err.find("mqtt"), std::string::npos) << "the broker let it in at once: " << err;
    }
}

} // namespace
