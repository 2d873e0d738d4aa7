// The exchange steps against a meter that the test plays by hand on the far side of a pty.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "render/PanelLayout.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/ListEntries.h"
#include "tests/support/PtyMeter.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "tests/ui/PanelPixels.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

namespace {

constexpr int kRedRow = 1;

class ExchangeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_env.Set("QD7_COM1", m_pty.SlavePath());
        m_pDlg = std::make_unique<CMeterTestDlg>(std::make_unique<CForwardingSerialOps>(m_record));
        m_pDlg->OnInitDialog();
        ASSERT_TRUE(m_pDlg->m_serialPort.IsOpen());
        m_pDlg->m_pPollTimer->stop(); // the test drives every step itself
        m_pDlg->m_nPollPeriodMs = 3600 * 1000;
        m_pDlg->m_fnSleep = [this](int ms) {
            m_vecSleeps.push_back(ms);
            if (m_fnDuringSleep) {
                m_fnDuringSleep();
            }
        };
    }
    void TearDown() override { m_pDlg.reset(); }

    CMeterTestDlg& Dlg() { return *m_pDlg; }
    const QImage& Panel() { return m_pDlg->m_pPicture->Surface()->image; }
    std::vector<uint8_t> Sent() { return m_pty.ReadMaster(kWireFrameLength, 1000); }
    std::vector<std::string> Entries() { return ListEntries(Dlg().m_pAddressList); }
    void List(std::initializer_list<int> addresses, int selected) {
        for (const int address : addresses) {
            Dlg().UpdateAddressList(address, true);
        }
        Dlg().m_pAddressList->setCurrentText(QString::asprintf("%02d", selected));
    }
    // The address the poll cycle polled last, as a send tick would have left it.
    void SetCurrentAddress(int address) {
        PollCycleState state = Dlg().m_pollCycle.State();
        state.currentAddress = address;
        Dlg().m_pollCycle = CPollCycle(state);
    }
    // Marks the receive lamp so that "unchanged" shows.
    void MarkReceiveLamp() { Dlg().m_lampDisplay.DrawLamp(4, 91, LampRed); }
    bool Receive(const std::vector<uint8_t>& bytes, RegisterSnapshot* pSnapshot = nullptr) {
        EXPECT_TRUE(Answer(m_pty, bytes));
        return Dlg().ReceiveResponse(pSnapshot);
    }

    CEnvGuard m_env;
    PtyPair m_pty;
    CForwardingSerialOps::Record m_record;
    std::unique_ptr<CMeterTestDlg> m_pDlg;
    std::vector<int> m_vecSleeps;
    std::function<void()> m_fnDuringSleep;
};

TEST_F(ExchangeTest, RequestShowsItsBodyAndCrcAndSendsThirtyFiveBytesWithTheLamps) {
    MarkReceiveLamp();
    bool bSendGreenWhileWriting = false;
    bool bReceiveUntouchedWhileWriting = false;
    m_record.fnBeforeWrite = [&] {
        bSendGreenWhileWriting = ShowsLamp(Panel(), kSendLampOrigin, LampGreen);
        bReceiveUntouchedWhileWriting = ShowsLamp(Panel(), kReceiveLampOrigin, LampRed);
    };

    EXPECT_TRUE(Dlg().SendRequest(3, 0, 1, 0, 0.0));

    EXPECT_EQ(Dlg().m_pTextEdit->text(), QStringLiteral("03RX1P0+0000000"));
    EXPECT_EQ(Dlg().m_pCrcLabel->text(), QStringLiteral("ETX,C4"));
    FrameBuffer expected{};
    ASSERT_TRUE(BuildRequestFrame(expected, 3, 0, 1, 0, 0.0));
    EXPECT_EQ(Sent(), std::vector<uint8_t>(expected.begin(), expected.begin() + 35));
    EXPECT_TRUE(bSendGreenWhileWriting);
    EXPECT_TRUE(bReceiveUntouchedWhileWriting);
    EXPECT_TRUE(ShowsLamp(Panel(), kSendLampOrigin, LampDarkGreen));
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampDarkGreen));
}

TEST_F(ExchangeTest, RequestWithArgumentsOutOfRangeSendsNothingAndSaysSo) {
    EXPECT_FALSE(Dlg().SendRequest(100, 0, 0, 0, 0.0));
    EXPECT_TRUE(m_pty.ReadMaster(35, 50).empty());
    EXPECT_EQ(Dlg().m_pCrcLabel->text(), QStringLiteral("ETX,CRC"));
}

TEST_F(ExchangeTest, SendTransmitsTheShownBodyAgainThenReadsTheReplyAfterASecond) {
    Dlg().SendRequest(3, 0, 1, 0, 0.0);
    const std::vector<uint8_t> request = Sent();
    ASSERT_EQ(request.size(), 35U);

    QTest::mouseClick(Dlg().m_pAutoscan, Qt::LeftButton);
    ASSERT_TRUE(Dlg().m_pSendButton->isEnabled());
    // The meter answers while the window waits.
    m_fnDuringSleep = [this] { Answer(m_pty, ReplyFrame("03RD1P0-0012342")); };
    QTest::mouseClick(Dlg().m_pSendButton, Qt::LeftButton);

    EXPECT_EQ(Sent(), request);
    EXPECT_EQ(m_vecSleeps, std::vector<int>{1000});
    EXPECT_EQ(Dlg().m_pTextEdit->text(), QStringLiteral("03RX1P0+0000000"));
    EXPECT_EQ(Dlg().m_pCrcLabel->text(), QStringLiteral("ETX,C4"));
    EXPECT_EQ(Dlg().m_pResponseEdit->text().size(), 19 * 3);
    EXPECT_TRUE(Dlg().m_pResponseEdit->text().startsWith(QStringLiteral("06 02 30 33 52 44 ")));
    EXPECT_EQ(Entries(), std::vector<std::string>{"03"});
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampGreen));
}

TEST_F(ExchangeTest, TypedTextIsSentAsTheUserWroteIt) {
    QTest::mouseClick(Dlg().m_pAutoscan, Qt::LeftButton);
    Dlg().m_pTextEdit->setText(QStringLiteral("07RX0C0+0000000"));
    Dlg().SendText();
    FrameBuffer expected{};
    const uint8_t crc = BuildTextFrame(expected, "07RX0C0+0000000");
    EXPECT_EQ(Sent(), std::vector<uint8_t>(expected.begin(), expected.begin() + 35));
    EXPECT_EQ(Dlg().m_pCrcLabel->text(), QString::fromStdString(FormatCrcText(crc)));
    EXPECT_EQ(Dlg().m_pTextEdit->text(), QStringLiteral("07RX0C0+0000000"));
    // No reply: the polled address (none since the reset) stays, the receive lamp turns yellow.
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampYellow));
}

TEST_F(ExchangeTest, AcceptedValueOfTheSelectedMeterReachesThePanel) {
    RegisterSnapshot snapshot;
    EXPECT_TRUE(Receive(ReplyFrame("05RD0P0-0012342"), &snapshot)); // -12.34 from 05

    EXPECT_EQ(Entries(), std::vector<std::string>{"05"});
    EXPECT_EQ(Dlg().m_pAddressList->currentText(), QStringLiteral("05"));
    EXPECT_STREQ(Dlg().m_szDisplayText.data(), "-12.34");
    EXPECT_EQ(snapshot.address, 5);
    EXPECT_FLOAT_EQ(snapshot.values[0], -12.34F);
    EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampGreen));
    // "-12.34": minus, 1, 2 (its point lit), 3, 4.
    const QPoint origin(73, 34);
    EXPECT_TRUE(ShowsGlyph(Panel(), origin, 11, kRedRow));
    EXPECT_TRUE(ShowsGlyph(Panel(), origin + QPoint(24, 0), 2, kRedRow));
    EXPECT_TRUE(ShowsGlyph(Panel(), origin + QPoint(72, 0), 4, kRedRow));
    EXPECT_TRUE(ShowsGlyph(Panel(), origin + QPoint(96, 0), 5, kRedRow));
    EXPECT_FALSE(ShowsGlyph(Panel(), origin + QPoint(48, 0), 3, kRedRow)); // point lit
}

TEST_F(ExchangeTest, AcceptedRepliesThatDoNotChangeTheDisplay) {
    struct Case {
        const char* name;
        const char* body;
        bool bBank1;
        std::vector<std::string> entries; // after
        int snapshotSlot;
    };
    const std::vector<Case> cases = {
        {"bank 0 while Bank 1 is checked", "03RD0P0+0001251", true, {"03", "07"}, 0},
        {"listed but not selected", "07RD0P0+0001251", false, {"03", "07"}, 0},
        {"C0 of the selected meter", "03RD0C0+0001251", false, {"03", "07"}, 1},
        {"unlisted while another is selected", "09RD0P0+0001251", false, {"03", "07", "09"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dlg().m_pAddressList->clear();
        List({3, 7}, 3);
        Dlg().m_pBank1->setChecked(c.bBank1);
        const QImage before = Panel().copy(73, 34, 120, 48);
        RegisterSnapshot snapshot;
        EXPECT_TRUE(Receive(ReplyFrame(c.body), &snapshot));
        EXPECT_EQ(Entries(), c.entries);
        EXPECT_EQ(Dlg().m_pAddressList->currentText(), QStringLiteral("03"));
        EXPECT_STREQ(Dlg().m_szDisplayText.data(), "    0");
        EXPECT_EQ(Panel().copy(73, 34, 120, 48), before);
        EXPECT_FLOAT_EQ(snapshot.values[static_cast<size_t>(c.snapshotSlot)], 12.5F);
        EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampGreen));
    }
}

TEST_F(ExchangeTest, CorruptOrMissingReplyRemovesThePolledAddress) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* dump;
    };
    std::vector<uint8_t> badCrc = ReplyFrame("07RD0P0+0001251");
    badCrc.back() ^= 0x01;
    const std::vector<uint8_t> shortReply(badCrc.begin(), badCrc.begin() + 18);
    const std::vector<Case> cases = {
        {"no bytes", {}, ""},
        {"CRC mismatch", badCrc, nullptr},
        {"18 bytes", shortReply, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Dlg().m_pAddressList->clear();
        List({3, 7, 12}, 12);
        SetCurrentAddress(7);
        MarkReceiveLamp();
        EXPECT_FALSE(Receive(c.bytes));
        EXPECT_EQ(Entries(), (std::vector<std::string>{"03", "12"}));
        EXPECT_EQ(Dlg().m_pAddressList->currentText(), QStringLiteral("03"));
        EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampYellow));
        const QString dump =
            QString::fromStdString(FormatHexDump(c.bytes.data(), static_cast<int>(c.bytes.size())));
        EXPECT_EQ(Dlg().m_pResponseEdit->text(), dump);
    }
    // With nothing polled since the reset (-1) the list stays as it is.
    SetCurrentAddress(-1);
    EXPECT_FALSE(Receive({}));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"03", "12"}));
}

TEST_F(ExchangeTest, RejectedReplyChangesNothingButTheDump) {
    std::vector<uint8_t> noAck = ReplyFrame("03RD0P0+0001251");
    noAck[0] = 0x15;
    const std::vector<std::vector<uint8_t>> rejected = {noAck, ReplyFrame("03RX0P0+0001251"),
                                                        ReplyFrame("03RD0Q9+0001251")};
    List({3}, 3);
    SetCurrentAddress(3);
    for (const auto& bytes : rejected) {
        MarkReceiveLamp();
        RegisterSnapshot snapshot;
        snapshot.address = 77;
        EXPECT_FALSE(Receive(bytes, &snapshot));
        EXPECT_EQ(Dlg().m_pResponseEdit->text(),
                  QString::fromStdString(FormatHexDump(bytes.data(), 19)));
        EXPECT_EQ(Entries(), std::vector<std::string>{"03"});
        EXPECT_TRUE(ShowsLamp(Panel(), kReceiveLampOrigin, LampRed));
        EXPECT_STREQ(Dlg().m_szDisplayText.data(), "    0");
        EXPECT_EQ(snapshot.address, 77);
    }
}

TEST_F(ExchangeTest, ReplyFromAnotherAddressIsHandledWithItsOwn) {
    List({7}, 7);
    SetCurrentAddress(7);
    EXPECT_TRUE(Receive(ReplyFrame("09RD0P0+0001251")));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"07", "09"}));
    EXPECT_EQ(Dlg().m_pAddressList->currentText(), QStringLiteral("07"));
}

TEST_F(ExchangeTest, RequestDrainsAtMostSixtyFourWaitingBytes) {
    std::vector<uint8_t> noise(100);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(i);
    }
    ASSERT_TRUE(Answer(m_pty, noise));
    Dlg().SendRequest(3, 0, 0, 0, 0.0);
    EXPECT_EQ(Sent().size(), 35U);
    // The 36 bytes beyond the first 64 lead the next read.
    Dlg().ReceiveResponse(nullptr);
    EXPECT_EQ(Dlg().m_pResponseEdit->text(),
              QString::fromStdString(FormatHexDump(noise.data() + 64, 36)));
    // A dump wider than the field shows its first bytes, as an edit control does after a new text.
    ASSERT_GT(Dlg().m_pResponseEdit->fontMetrics().horizontalAdvance(Dlg().m_pResponseEdit->text()),
              Dlg().m_pResponseEdit->width());
    EXPECT_EQ(Dlg().m_pResponseEdit->cursorPosition(), 0);
}

TEST_F(ExchangeTest, ForeignTimerIdSendsAndReadsNothingButRedraws) {
    const std::vector<uint8_t> reply = ReplyFrame("03RD0P0+0001251");
    ASSERT_TRUE(Answer(m_pty, reply));
    Dlg().m_pollCycle = CPollCycle(PollCycleState{0, -1, true, true, 0}); // a reply is awaited
    std::snprintf(Dlg().m_szDisplayText.data(), Dlg().m_szDisplayText.size(), "12345");

    Dlg().OnPollTimer(5);

    EXPECT_TRUE(m_pty.ReadMaster(35, 50).empty());
    EXPECT_TRUE(Dlg().m_pollCycle.State().bAwaitingResponse);
    EXPECT_TRUE(Dlg().m_pResponseEdit->text().isEmpty());
    for (int k = 0; k < 5; ++k) {
        EXPECT_TRUE(ShowsGlyph(Panel(), QPoint(73 + 24 * k, 34), 2 + k, kRedRow)) << k;
    }
    // The reply is still waiting for the next tick with id 0.
    Dlg().OnPollTimer(0);
    EXPECT_FALSE(Dlg().m_pollCycle.State().bAwaitingResponse);
    EXPECT_EQ(Dlg().m_pResponseEdit->text(),
              QString::fromStdString(FormatHexDump(reply.data(), 19)));
}

} // namespace
