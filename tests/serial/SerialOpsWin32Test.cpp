// The Windows backend's own choices: the driver's settings record it writes, and what it makes of
// a path that is no serial port. Runs on Windows or under wine; it never opens a real port.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "serial/CommStateWin32.h"
#include "serial/SerialOps.h"

namespace {

constexpr int kSpeeds[] = {110,   300,   600,   1200,  2400,   4800,   9600,  14400,
                           19200, 38400, 56000, 57600, 115200, 128000, 256000};

// The record's packed flag word, fBinary to fDummy2, as the driver sees it.
uint32_t FlagWord(const DCB& dcb) {
    uint32_t word = 0;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(&dcb) + 2 * sizeof(DWORD),
                sizeof(word));
    return word;
}

DCB FilledDcb(unsigned char byte) {
    DCB dcb;
    std::memset(&dcb, byte, sizeof(dcb));
    return dcb;
}

TEST(CommStateTest, EverySpeedAndFormatWithTheFlagsOfAHalfDuplexLine) {
    struct Format {
        int dataBits, parity, stopBits;
    };
    for (const int speed : kSpeeds) {
        for (const Format f : {Format{8, 0, 0}, Format{7, 2, 2}, Format{8, 1, 0}, Format{7, 3, 0},
                               Format{8, 4, 2}}) {
            SCOPED_TRACE(std::to_string(speed) + " " + std::to_string(f.dataBits) + " " +
                         std::to_string(f.parity) + " " + std::to_string(f.stopBits));
            // Whatever the driver had: bits 0, 1 and 4 set (binary, parity check, DTR on), bits 2,
            // 3 and 5 to 14 cleared, the reserved bits 15 to 31 and every other field as read.
            for (const unsigned char fill : {0x00, 0xFF}) {
                DCB dcb = FilledDcb(fill);
                ASSERT_TRUE(SetLineInDcb(dcb, {speed, f.dataBits, f.parity, f.stopBits}));
                EXPECT_EQ(dcb.DCBlength, 28U);
                EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(speed));
                EXPECT_EQ(dcb.ByteSize, f.dataBits);
                EXPECT_EQ(dcb.Parity, f.parity);
                EXPECT_EQ(dcb.StopBits, f.stopBits);
                EXPECT_EQ(FlagWord(dcb), fill == 0 ? 0x00000013U : 0xFFFF8013U);
                const DCB before = FilledDcb(fill);
                EXPECT_EQ(dcb.wReserved, before.wReserved);
                EXPECT_EQ(dcb.XonLim, before.XonLim);
                EXPECT_EQ(dcb.XoffLim, before.XoffLim);
                EXPECT_EQ(dcb.XonChar, before.XonChar);
                EXPECT_EQ(dcb.XoffChar, before.XoffChar);
                EXPECT_EQ(dcb.ErrorChar, before.ErrorChar);
                EXPECT_EQ(dcb.EofChar, before.EofChar);
                EXPECT_EQ(dcb.EvtChar, before.EvtChar);
                EXPECT_EQ(dcb.wReserved1, before.wReserved1);
            }
        }
    }
}

TEST(CommStateTest, SettingsOutsideTheCodesAreRefusedAndChangeNothing) {
    const LineSettings refused[] = {
        {0, 8, 0, 0},    {-9600, 8, 0, 0}, {9600, 6, 0, 0}, {9600, 9, 0, 0},  {9600, 5, 0, 1},
        {9600, 8, 0, 1}, {9600, 8, 0, 3},  {9600, 8, 5, 0}, {9600, 8, -1, 0},
    };
    for (const LineSettings& s : refused) {
        SCOPED_TRACE(std::to_string(s.speed) + " " + std::to_string(s.dataBits) + " " +
                     std::to_string(s.parity) + " " + std::to_string(s.stopBits));
        DCB dcb = FilledDcb(0x5A);
        EXPECT_FALSE(SetLineInDcb(dcb, s));
        const DCB before = FilledDcb(0x5A);
        EXPECT_EQ(std::memcmp(&dcb, &before, sizeof(DCB)), 0);
    }
}

TEST(CommStateTest, ReadsTakeWhatIsThereOrTheFirstByteAndWritesHaveNoLimitOfTheirOwn) {
    const COMMTIMEOUTS t = FirstByteReadTimeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, MAXDWORD);
    EXPECT_GT(t.ReadTotalTimeoutConstant, 0U);
    EXPECT_LT(t.ReadTotalTimeoutConstant, MAXDWORD);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 0U);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 0U);
}

// What the real backend makes of paths that are no serial port: the reason a user is shown.
class Win32OpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = std::filesystem::temp_directory_path() / "qd7-win32-open-test";
        std::filesystem::create_directories(m_dir);
        std::ofstream(m_dir / "file.txt") << "not a port";
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }

    OpenError Open(const std::string& path) {
        OpenError error;
        const PortHandle h = m_ops->OpenDevice(path, error);
        if (h != kNullPortHandle) {
            m_ops->CloseDevice(h);
        }
        EXPECT_EQ(h, kNullPortHandle) << path;
        return error;
    }

    std::filesystem::path m_dir;
    std::unique_ptr<ISerialOps> m_ops = CreateSystemSerialOps();
};

TEST_F(Win32OpenTest, PathsThatAreNoSerialPortGiveTheirReason) {
    struct Case {
        std::string path;
        OpenFailure kind;
    };
    const Case cases[] = {
        {"\\\\.\\QD7NoSuchPort", OpenFailure::NoDevice},
        {"C:\\qd7-no-such-folder\\port", OpenFailure::NoDevice},
        {(m_dir / "file.txt").string(), OpenFailure::NotSerial}, // opens, but is a disk file
        {m_dir.string(), OpenFailure::NotSerial},                // access denied, yet not in use
        {"NUL", OpenFailure::NotSerial},                         // a device without a line
    };
    for (const Case& c : cases) {
        const OpenError error = Open(c.path);
        EXPECT_EQ(error.kind, c.kind) << c.path << ": " << OpenFailureText(error);
    }
}

} // namespace
