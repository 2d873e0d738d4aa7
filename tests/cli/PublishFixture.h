#pragma once

// What the tests of watch --publish share: a real broker (mosquitto on 127.0.0.1), the simulator
// as a program on its pty, and the readings compared at both ends: the rows on stdout against the
// messages a subscriber of the broker received.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "tests/sim/SimProcess.h"
#include "tests/support/Mosquitto.h"

inline constexpr auto kPublishWait = std::chrono::seconds(30);
inline constexpr const char* kPrefix = "plant/line1";

using Messages = std::vector<CMqttSubscriber::Message>;

// The payloads published live (not a retained copy sent on subscribing) on one topic, in order.
std::vector<std::string> Live(const Messages& messages, const std::string& topic);
// The json rows of one meter on stdout, in order, without their newlines.
std::vector<std::string> RowsOf(const std::string& out, int address);
size_t RowCount(const std::string& out);
// What a subscriber that comes now is given at once: the retained message of `topic`.
std::optional<std::string> Retained(uint16_t port, const std::string& topic, const char* id,
                                    const CMqttSubscriber::Login& login = {});
// A file of `text` with `mode`; its path.
std::string WriteFile(const std::string& path, const std::string& text, unsigned mode = 0600);
// The count that the last `words` in `text` follow ("12 readings sent"), -1 when not there.
long CountBefore(const std::string& text, const std::string& words);

// A broker and a simulated bus of meters 07 and 12, both running.
class PublishTest : public ::testing::Test {
protected:
    void SetUp() override;
    // The watch's URL for a broker on `port` (the broker itself by default), with a user.
    std::string Url(uint16_t port = 0, const std::string& user = "") const;
    // qd7-bus on the simulated bus (or `device`), json rows, watching 07 and 12 every 50 ms, and
    // `extra`.
    std::vector<std::string> Watch(const std::vector<std::string>& extra,
                                   const std::string& device = "") const;
    // Every reading on stdout arrived once, in order, and no other: each meter's live messages
    // are exactly its rows.
    static void ExpectEachRowOnce(const std::string& out, const Messages& messages);
    // Waits until the subscriber holds as many readings of each meter as the output has rows:
    // the last of one meter may still be on their way when the other's have all come.
    static bool WaitEveryRow(CMqttSubscriber& subscriber, const std::string& out);

    CMosquittoBroker m_broker;
    CSimProcess m_sim{{QD7_SIM_PROGRAM, "--meters", "07,12"}};
    std::optional<std::string> m_device;
};
