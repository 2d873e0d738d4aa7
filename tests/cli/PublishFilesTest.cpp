// What --publish reads from disk: the password file and the CA file, each bounded and checked at
// the start, and the spool, which must give back every reading not yet acknowledged, in order.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <string>

#include "cli/PublishFiles.h"
#include "cli/PublishSpool.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/TempDir.h"

namespace {

constexpr const char* kCertificate = R"(-----BEGIN CERTIFICATE-----
MIIBfTCCASOgAwIBAgIUYyLhD2406GYEsINfSa2yZLF0CQQwCgYIKoZIzj0EAwIw
EzERMA8GA1UEAwwIcWQ3LXRlc3QwIBcNMjYxMjExMDk0MDU0WhgPMjEyNjExMTcw
OTQwNTRaMBMxETAPBgNVBAMMCHFkNy10ZXN0MFkwEwYHKoZIzj0CAQYIKoZIzj0D
AQcDQgAE1XO5V0x4hxvyC3GcxDxJwus0tBPd0+dGwDLBA63jNAioIY+QXtQTcmg7
UzVQQu1P+MbceC+PZdmWER8+wzvC76NTMFEwHQYDVR0OBBYEFFySFlXtEX6oDfcp
9U8CvsvYcZqJMB8GA1UdIwQYMBaAFFySFlXtEX6oDfcp9U8CvsvYcZqJMA8GA1Ud
EwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDSAAwRQIgKN5itUQQWj8B7Mqxa2yEdF0y
rAQ0xAEB5ovby9Fp+9YCIQD7y+rBPkArTMaOJSzrfSoZ1G187tH2SECm5R8W5Waq
uA==
-----END CERTIFICATE-----
)";

std::string Write(const std::string& path, const std::string& text, mode_t mode = 0600) {
    std::ofstream(path, std::ios::binary) << text;
    ::chmod(path.c_str(), mode);
    return path;
}

struct PasswordCase {
    const char* name;
    std::string content; // the file's
    mode_t mode;
    const char* environment; // $QD7_MQTT_PASSWORD, or nullptr
    const char* password;    // read, or nullptr when refused
    const char* words;       // in the error, or the note
};

TEST(PublishFiles, APasswordFileIsItsFirstLineOfTextWithinABoundAndOursAlone) {
    CTempDir dir;
    const std::vector<PasswordCase> cases = {
        {"a line", "s3cret\nmore\n", 0600, nullptr, "s3cret", ""},
        {"a line of Windows", "s3cret\r\n", 0640, nullptr, "s3cret", ""},
        {"no newline", "s3cret", 0600, nullptr, "s3cret", ""},
        {"wins over the environment", "s3cret\n", 0600, "other", "s3cret",
         "not from $QD7_MQTT_PASSWORD"},
        {"readable by everyone", "s3cret\n", 0644, nullptr, nullptr, "chmod 600"},
        {"empty", "\n", 0600, nullptr, nullptr, "its first line is empty"},
        {"binary", std::string("ab\0cd\n", 6), 0600, nullptr, nullptr, "not a password file"},
        {"a line too long", std::string(kMaxPasswordBytes + 1, 'x') + "\n", 0600, nullptr, nullptr,
         "longer than 4096 bytes"},
    };
    const std::atomic<bool> stop{false};
    for (const PasswordCase& c : cases) {
        CEnvGuard env;
        if (c.environment != nullptr) {
            env.Set("QD7_MQTT_PASSWORD", c.environment);
        } else {
            env.Unset("QD7_MQTT_PASSWORD");
        }
        PublishSettings settings;
        settings.passwordFile = Write(dir.Path() + "/pw", c.content, c.mode);
        std::optional<std::string> password;
        std::string note;
        std::string error;
        const bool ok = ReadPassword(settings, stop, password, note, error);
        EXPECT_EQ(ok, c.password != nullptr) << c.name << ": " << error;
        EXPECT_EQ(password.value_or("(none)"), c.password ? c.password : "(none)") << c.name;
        EXPECT_NE((ok ? note : error).find(c.words), std::string::npos) << c.name;
    }
    // A device that never ends a line is read up to the bound, not to the end of memory.
    PublishSettings settings;
    settings.passwordFile = "/dev/zero";
    std::optional<std::string> password;
    std::string note;
    std::string error;
    EXPECT_FALSE(ReadPassword(settings, stop, password, note, error));
    EXPECT_NE(error.find("not a password file"), std::string::npos) << error;
    settings.passwordFile = dir.Path();
    EXPECT_FALSE(ReadPassword(settings, stop, password, note, error));
    EXPECT_NE(error.find("is a directory"), std::string::npos) << error;
    // Without a file, the environment.
    CEnvGuard env;
    env.Set("QD7_MQTT_PASSWORD", "from-env");
    settings.passwordFile.clear();
    EXPECT_TRUE(ReadPassword(settings, stop, password, note, error));
    EXPECT_EQ(password, "from-env");
}

TEST(PublishFiles, ACaFileMustHoldPemCertificates) {
    CTempDir dir;
    std::string error;
    EXPECT_TRUE(CheckCaFile(Write(dir.Path() + "/ca.pem", kCertificate), error)) << error;
    const std::vector<std::pair<std::string, const char*>> refused = {
        {dir.Path(), "is a directory"},
        {"/dev/zero", "is not a regular file"},
        {Write(dir.Path() + "/junk.pem", "-----BEGIN CERTIFICATE-----\nnot base64\n"),
         "holds no PEM certificate"},
        {dir.Path() + "/missing.pem", "No such file"},
    };
    for (const auto& [path, words] : refused) {
        EXPECT_FALSE(CheckCaFile(path, error)) << path;
        EXPECT_NE(error.find(words), std::string::npos) << error;
    }
}

QueuedMessage Message(const std::string& payload, bool bRetain = true) {
    QueuedMessage m;
    m.topic = "plant/07/P0";
    m.payload = payload;
    m.bRetain = bRetain;
    return m;
}

// What the spool was given and not marked done comes back, in order, after the program ended:
// also when it ended in the middle of a record, which is left out with a word. A file that is no
// spool is left alone, and a spool in use by another watch is refused.
TEST(PublishSpool, TheReadingsNotDoneComeBackInOrder) {
    CTempDir dir;
    const std::string path = dir.Path() + "/q.spool";
    std::deque<QueuedMessage> pending;
    std::string note;
    std::string error;
    {
        CPublishSpool spool;
        ASSERT_TRUE(spool.Open(path, pending, note, error)) << error;
        EXPECT_TRUE(pending.empty());
        std::deque<QueuedMessage> queue;
        for (int i = 1; i <= 4; ++i) {
            queue.push_back(Message("r" + std::to_string(i), i != 3));
            queue.back().nSeq = static_cast<uint64_t>(i);
            ASSERT_TRUE(spool.Append(queue.back()));
            queue.back().bSpooled = true;
        }
        spool.Done(queue[1], queue);
        spool.Sync();
        CPublishSpool second;
        std::deque<QueuedMessage> none;
        EXPECT_FALSE(second.Open(path, none, note, error));
        EXPECT_NE(error.find("in use by another qd7-bus"), std::string::npos) << error;
    }
    {
        // A crash in the middle of the next record.
        std::ofstream(path, std::ios::app) << "M 5 11 40 1\nplant/07/P0{\"ti";
    }
    CPublishSpool spool;
    ASSERT_TRUE(spool.Open(path, pending, note, error)) << error;
    EXPECT_NE(note.find("ends in a record cut off"), std::string::npos) << note;
    ASSERT_EQ(pending.size(), 3U);
    EXPECT_EQ(pending[0].payload, "r1");
    EXPECT_EQ(pending[1].payload, "r3");
    EXPECT_FALSE(pending[1].bRetain);
    EXPECT_EQ(pending[2].payload, "r4");
    EXPECT_EQ(pending[2].nSeq, 4U);
    EXPECT_EQ(pending[2].topic, "plant/07/P0");

    const std::string other = Write(dir.Path() + "/notes.txt", "my notes\n");
    CPublishSpool foreign;
    EXPECT_FALSE(foreign.Open(other, pending, note, error));
    EXPECT_NE(error.find("not a spool of qd7-bus"), std::string::npos) << error;
    std::ifstream kept(other);
    std::string line;
    std::getline(kept, line);
    EXPECT_EQ(line, "my notes");
}

} // namespace
