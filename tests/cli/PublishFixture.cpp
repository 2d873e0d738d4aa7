#include "tests/cli/PublishFixture.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>

#include "protocol/Address.h"

std::vector<std::string> Live(const Messages& messages, const std::string& topic) {
    std::vector<std::string> payloads;
    for (const auto& m : messages) {
        if (m.topic == topic && !m.bRetained) {
            payloads.push_back(m.payload);
        }
    }
    return payloads;
}

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

std::optional<std::string> Retained(uint16_t port, const std::string& topic, const char* id,
                                    const CMqttSubscriber::Login& login) {
    CMqttSubscriber late(port, topic, id, 1, login);
    if (!late.WaitFor([](const Messages& m) { return !m.empty(); }, std::chrono::seconds(5))) {
        return std::nullopt;
    }
    return late.Messages().front().payload;
}

std::string WriteFile(const std::string& path, const std::string& text, unsigned mode) {
    {
        std::ofstream file(path);
        file << text;
    }
    ::chmod(path.c_str(), mode);
    return path;
}

long CountBefore(const std::string& text, const std::string& words) {
    // The last: the summary at the end, not a word said on the way.
    const size_t at = text.rfind(" " + words);
    if (at == std::string::npos) {
        return -1;
    }
    const size_t start = text.find_last_not_of("0123456789", at - 1);
    const std::string digits = text.substr(start == std::string::npos ? 0 : start + 1,
                                           at - (start == std::string::npos ? 0 : start + 1));
    return digits.empty() ? -1 : std::stol(digits);
}

void PublishTest::SetUp() {
    ASSERT_TRUE(m_broker.Start()) << m_broker.Log();
    m_device = m_sim.FirstLine(kPublishWait);
    ASSERT_TRUE(m_device.has_value());
}

std::string PublishTest::Url(uint16_t port, const std::string& user) const {
    return "mqtt://" + (user.empty() ? std::string() : user + "@") +
           "127.0.0.1:" + std::to_string(port == 0 ? m_broker.Port() : port) + "/" + kPrefix;
}

std::vector<std::string> PublishTest::Watch(const std::vector<std::string>& extra,
                                            const std::string& device) const {
    std::vector<std::string> args = {QD7_BUS_PROGRAM,
                                     "--port",
                                     device.empty() ? *m_device : device,
                                     "--format",
                                     "json",
                                     "watch",
                                     "07",
                                     "12",
                                     "--interval",
                                     "50"};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

bool PublishTest::WaitEveryRow(CMqttSubscriber& subscriber, const std::string& out) {
    return subscriber.WaitFor(
        [&](const Messages& m) {
            for (const int address : {7, 12}) {
                const std::string topic =
                    std::string(kPrefix) + "/" + FormatAddress(address) + "/P0";
                if (Live(m, topic).size() < RowsOf(out, address).size()) {
                    return false;
                }
            }
            return true;
        },
        kPublishWait);
}

void PublishTest::ExpectEachRowOnce(const std::string& out, const Messages& messages) {
    for (const int address : {7, 12}) {
        const std::string topic = std::string(kPrefix) + "/" + FormatAddress(address) + "/P0";
        const std::vector<std::string> rows = RowsOf(out, address);
        EXPECT_FALSE(rows.empty());
        EXPECT_EQ(Live(messages, topic), rows) << "meter " << address;
    }
}
