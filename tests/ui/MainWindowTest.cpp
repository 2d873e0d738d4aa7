// The main window without meters, through its driver: start values, the port and its failure box,
// the Autoscan switch, the poll timer, the controls the session shows itself through, system
// commands and teardown. What the session does with the ticks, the list and the replies is tested
// without a window (PollCycleTest, ExchangeTest).
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <string>
#include <vector>

#include "protocol/FrameCodec.h"
#include "render/PanelLayout.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyMeter.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "tests/ui/PanelPixels.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

namespace {

using Start = CWindowUnderTest::Start;

constexpr int kRedRow = 1;
constexpr int kBlankCell = 12;
// Scan cursor 0, no current address, no reply awaited, the selected meter next, nothing counted.
const PollCycleState kResetState{0, -1, false, true, 0};

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_env.Set("QD7_COM1", m_pty.SlavePath());
    }

    // A window on the real timer and the real sleep, as the application has it.
    static CWindowUnderTest::Options RealTime(Start start = Start::Shown) {
        return {.start = start, .bTestTicks = false};
    }

    CEnvGuard m_env;
    PtyPair m_pty;
};

TEST_F(MainWindowTest, StartsWithTheDefaultsOnTheDefaultLine) {
    CForwardingSerialOps::Record record;
    CWindowUnderTest::Options options = RealTime(Start::None);
    options.pOps = std::make_unique<CForwardingSerialOps>(record);
    CWindowUnderTest window(std::move(options));
    // The poll-cycle state is defined before initialisation, for a tick that comes early.
    EXPECT_EQ(window.Session().PollState(), kResetState);
    EXPECT_EQ(window.Session().State(), DeviceState::NotStarted);
    EXPECT_FALSE(window.PollTimer()->isActive());

    window.Show(); // runs OnInitDialog first

    EXPECT_EQ(window.Window().windowTitle(), QStringLiteral("QD7 Series RS485 test app."));
    EXPECT_STREQ(window.Session().DisplayText(), "    0");
    EXPECT_EQ(window.Session().Unit(), "Sec");
    EXPECT_EQ(window.Session().Settings(), (PortSettings{0, 6, 1, 0, 0}));

    // COM1 at 9600 baud, 8 data bits, no parity, one stop bit.
    EXPECT_EQ(window.Session().State(), DeviceState::Open);
    ASSERT_EQ(record.configured.size(), 1U);
    EXPECT_EQ(record.configured[0].speed, 9600);
    EXPECT_EQ(record.configured[0].dataBits, 8);
    EXPECT_EQ(record.configured[0].parity, 0);
    EXPECT_EQ(record.configured[0].stopBits, 0);

    EXPECT_TRUE(window.Autoscan()->isChecked());
    EXPECT_TRUE(window.Pnp()->isChecked());
    EXPECT_TRUE(window.Pnp()->isEnabled());
    EXPECT_FALSE(window.Bank1()->isChecked());
    EXPECT_FALSE(window.SendButton()->isEnabled());
    EXPECT_FALSE(window.TextEdit()->isEnabled());
    EXPECT_TRUE(window.Progress()->isHidden());
    EXPECT_EQ(window.CrcLabel()->text(), QStringLiteral("ETX,CRC"));
    EXPECT_TRUE(window.TextEdit()->text().isEmpty());
    EXPECT_TRUE(window.ResponseEdit()->text().isEmpty());
    EXPECT_TRUE(window.ResponseEdit()->isReadOnly());
    EXPECT_EQ(window.AddressList()->count(), 0);
    EXPECT_EQ(window.Window().focusWidget(), window.AddressList());

    EXPECT_TRUE(window.PollTimer()->isActive());
    EXPECT_EQ(window.PollTimer()->interval(), 700);
    EXPECT_EQ(window.PollTimer()->timerType(), Qt::PreciseTimer);

    // Painted: "    0" in red, four blank cells and the zero on the five cells printed on the
    // panel.
    const QImage& panel = window.Panel();
    EXPECT_EQ(panel.size(), QSize(264, 104));
    for (int k = 0; k < 4; ++k) {
        EXPECT_TRUE(ShowsGlyph(panel, QPoint(73 + 24 * k, 34), kBlankCell, kRedRow)) << k;
    }
    EXPECT_TRUE(ShowsGlyph(panel, QPoint(73 + 96, 34), 1, kRedRow));
    // "Sec" white on black inside the unit frame.
    bool bWhite = false;
    for (int y = 49; y < 66 && !bWhite; ++y) {
        for (int x = 206; x < 248 && !bWhite; ++x) {
            bWhite = panel.pixelColor(x, y) == QColor(255, 255, 255);
        }
    }
    EXPECT_TRUE(bWhite);
}

TEST_F(MainWindowTest, ControlsCarryTheirCaptionsAndTakeTheFocusInTemplateOrder) {
    CWindowUnderTest window(RealTime(Start::None));
    CMeterTestDlg& dlg = window.Window();
    const std::vector<std::pair<int, const char*>> captions = {
        {1018, "Bank 1"}, {1007, "PNP"}, {1006, "Autoscan"}, {1033, "ETX,CRC"}, {1001, "Send"}};
    for (const auto& [id, caption] : captions) {
        const QWidget* pControl = FindDialogItem(&dlg, id);
        ASSERT_NE(pControl, nullptr) << id;
        const QVariant text = pControl->property("text");
        EXPECT_EQ(text.toString(), QString::fromLatin1(caption)) << id;
    }
    const auto labels = dlg.findChildren<QLabel*>();
    EXPECT_TRUE(std::any_of(labels.begin(), labels.end(),
                            [](const QLabel* p) { return p->text() == QStringLiteral("STX"); }));

    // Tab order: the list, the three boxes, the text edit, "Send", the response edit.
    std::vector<int> order;
    QWidget* pWidget = window.AddressList();
    do {
        if ((pWidget->focusPolicy() & Qt::TabFocus) != 0 && pWidget->parentWidget() == &dlg) {
            order.push_back(pWidget->property("dialogId").toInt());
        }
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != window.AddressList() && order.size() < 20);
    EXPECT_EQ(order, (std::vector<int>{1008, 1018, 1007, 1006, 1002, 1001, 1003}));
}

TEST_F(MainWindowTest, LayoutKeepsEveryControlInTheWindowAndOffThePanel) {
    CWindowUnderTest window(RealTime(Start::None));
    const QRect panel(QPoint(0, 0), window.Picture()->size());
    EXPECT_EQ(panel.size(), QSize(264, 104));
    const QRect client = window.Window().rect();
    const auto children = window.Window().findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* pChild : children) {
        if (pChild == window.Picture() || pChild->isHidden() || pChild->isWindow()) {
            continue;
        }
        // The response edit reaches one dialog unit past the bottom, as its template has it.
        const QRect rect = pChild->geometry();
        EXPECT_TRUE(client.contains(rect.topLeft())) << pChild->metaObject()->className();
        EXPECT_LE(rect.right(), client.right()) << pChild->metaObject()->className();
        EXPECT_FALSE(panel.intersects(rect)) << pChild->metaObject()->className();
    }
    // The hidden progress bar lies over the response edit.
    EXPECT_TRUE(window.ResponseEdit()->geometry().intersects(window.Progress()->geometry()));
}

TEST_F(MainWindowTest, BuildingTheWindowLeavesTheDesktopsFontToTheBoxes) {
    // The controls are made while the dialog font stands in for the desktop's; the boxes and tool
    // tips must find the desktop's font again, and the controls must keep the dialog font.
    const QFont desktop = QGuiApplication::font();
    ASSERT_NE(QFontInfo(desktop).family(), QFontInfo(DialogFont()).family());
    CWindowUnderTest window(RealTime(Start::None));
    EXPECT_EQ(QGuiApplication::font(), desktop);
    EXPECT_EQ(QMessageBox().font(), desktop);
    for (const QLineEdit* pEdit : window.Window().findChildren<QLineEdit*>()) {
        EXPECT_EQ(QFontInfo(pEdit->font()).family(), QFontInfo(DialogFont()).family());
    }
}

TEST(DialogFontTest, GulimResolvesToAFamilyWithHangul) {
    const QFont font = DialogFont();
    EXPECT_EQ(font.pointSize(), 9);
    const QFontMetrics metrics(font);
    const QString hangul = QString::fromUtf8("정보버전확인");
    for (const QChar ch : hangul) {
        EXPECT_TRUE(metrics.inFont(ch)) << QFontInfo(font).family().toStdString();
    }
}

TEST(DialogFontTest, FullStopIsAPointAboveTheBaseline) {
    // A decimal point that reaches below the baseline reads as a comma: "750,5" for 750.5.
    const QFont font = DialogFont();
    const QFontMetrics metrics(font);
    const QString text = QStringLiteral("0.5");
    const int left = 4;
    const int baseline = 4 + metrics.ascent();
    QImage image(metrics.horizontalAdvance(text) + 2 * left, baseline + metrics.descent() + 4,
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.drawText(left, baseline, text);
    }
    // The full stop's advance; row `baseline` is the first row below the baseline.
    const int x0 = left + metrics.horizontalAdvance(QStringLiteral("0"));
    const int x1 = left + metrics.horizontalAdvance(QStringLiteral("0."));
    int inkAbove = 0;
    int inkBelow = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = x0; x < x1; ++x) {
            if (qGray(image.pixel(x, y)) < 255) {
                (y < baseline ? inkAbove : inkBelow) += 1;
            }
        }
    }
    const std::string family = QFontInfo(font).family().toStdString();
    EXPECT_GT(inkAbove, 0) << family;
    EXPECT_EQ(inkBelow, 0) << family;
}

TEST(DialogUnitsTest, ConvertsEdgesAsPositionsWithRounding) {
    const CDialogUnits units(7, 12);
    EXPECT_EQ(units.ToPixelsX(152), 266);
    EXPECT_EQ(units.ToPixelsY(70), 105);
    // 1 dlu at 7/4 is 1.75 px: rounds to 2; the width is the difference of the converted edges.
    EXPECT_EQ(units.ToPixels(1, 83, 205, 10), QRect(2, 125, 361 - 2, 140 - 125));
}

TEST_F(MainWindowTest, PortThatCannotOpenIsReportedOnceAndTheWindowGoesOn) {
    CWindowUnderTest::Options options = RealTime(Start::None);
    options.com1 = "/nonexistent/qd7-test/com1";
    options.bExpectBoxes = true;
    CWindowUnderTest window(std::move(options));
    CModalCatcher& catcher = window.Boxes();
    QCursor::setPos(500, 380); // the window opens centred on the pointer
    bool bPollingDuringBox = false;
    PollCycleState duringBox;
    catcher.m_fnWhileOpen = [&] {
        bPollingDuringBox = window.PollTimer()->isActive();
        window.Session().OnPollTimer(0); // a tick that falls due while the box is open
        duringBox = window.Session().PollState();
    };
    ::testing::internal::CaptureStderr();
    window.Window().show();
    const std::string stderrText = ::testing::internal::GetCapturedStderr();

    ASSERT_EQ(catcher.m_vecSeen.size(), 1U);
    const CModalCatcher::Seen& box = catcher.m_vecSeen[0];
    EXPECT_EQ(box.className, QStringLiteral("QMessageBox"));
    EXPECT_EQ(box.text, QStringLiteral("COM1 can't open!"));
    EXPECT_EQ(box.icon, QMessageBox::Warning);
    EXPECT_EQ(box.title, QCoreApplication::applicationName());
    // OK, and the button that shows the details: the device and why it did not open.
    EXPECT_EQ(box.buttons.size(), 2);
    EXPECT_TRUE(box.buttons.contains(QStringLiteral("OK")) ||
                box.buttons.contains(QStringLiteral("&OK")));
    const std::string reason = "/nonexistent/qd7-test/com1: no such file or device";
    // And how to try again, without changing a setting.
    EXPECT_EQ(box.detailedText.toStdString(),
              reason + "\n\nChoose OK in the setup dialog (click the front panel) to try again.");
    // Its first line; the offscreen platform may add notes of its own behind it.
    EXPECT_EQ(stderrText.substr(0, stderrText.find('\n')),
              QCoreApplication::applicationName().toStdString() + ": COM1 can't open! " + reason);
    EXPECT_TRUE(bPollingDuringBox); // the timer starts before the port is opened
    // Over the main window, which was placed before the box opened.
    const CMeterTestDlg& dlg = window.Window();
    EXPECT_LE((dlg.frameGeometry().center() - QPoint(500, 380)).manhattanLength(), 8);
    EXPECT_LE((box.frame.center() - dlg.frameGeometry().center()).manhattanLength(), 16);

    EXPECT_EQ(window.Session().State(), DeviceState::Closed);
    EXPECT_TRUE(window.PollTimer()->isActive());
    // The early tick moved the cycle; the failed open still reset it.
    ASSERT_NE(duringBox, kResetState);
    EXPECT_EQ(window.Session().PollState(), kResetState);

    // Without a port a poll sends nothing and counts as no reply; the window keeps working.
    window.Session().OnPollTimer(0);
    window.Session().OnPollTimer(0);
    EXPECT_EQ(window.ResponseEdit()->text(), QString());
    EXPECT_TRUE(ShowsLamp(window.Panel(), kReceiveLampOrigin, LampYellow));

    // The one-based number of the port in the settings.
    m_env.Set("QD7_COM3", "/nonexistent/qd7-test/com3");
    window.Session().ApplyLineSettings({2, 6, 1, 0, 0});
    ASSERT_EQ(catcher.m_vecSeen.size(), 2U);
    EXPECT_EQ(catcher.m_vecSeen[1].text, QStringLiteral("COM3 can't open!"));
}

// The fixture's own promise: a box nobody expected ends the test with its text, and never holds
// it in the box's loop.
TEST_F(MainWindowTest, AnUnexpectedBoxFailsTheTestAtOnceWithItsText) {
    EXPECT_NONFATAL_FAILURE(
        { const CWindowUnderTest window({.com1 = "/nonexistent/qd7-test/com1"}); },
        "COM1 can't open!");
}

TEST_F(MainWindowTest, ControlsShowWhatTheSessionSaysAndTellItTheirState) {
    CWindowUnderTest window({});
    IMeterView& view = window.View();

    window.Session().SendRequest(3, 0, 1, 0, 0.0);
    EXPECT_EQ(window.TextEdit()->text(), QStringLiteral("03RX1P0+0000000"));
    EXPECT_EQ(window.CrcLabel()->text(), QStringLiteral("ETX,C4"));
    EXPECT_EQ(m_pty.ReadMaster(kWireFrameLength, 1000).size(), 35U);

    // A dump wider than the field shows its first bytes, as an edit control does after a new text.
    std::vector<uint8_t> noise(60);
    for (size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<uint8_t>(i);
    }
    ASSERT_TRUE(Answer(m_pty, noise));
    window.Session().ReceiveResponse(nullptr);
    QLineEdit* pResponse = window.ResponseEdit();
    EXPECT_EQ(pResponse->text(), QString::fromStdString(FormatHexDump(noise.data(), 60)));
    ASSERT_GT(pResponse->fontMetrics().horizontalAdvance(pResponse->text()), pResponse->width());
    EXPECT_EQ(pResponse->cursorPosition(), 0);

    // The boxes as the session reads them.
    window.Bank1()->setChecked(true);
    window.Pnp()->setChecked(false);
    EXPECT_TRUE(view.IsChecked(Box::Bank1));
    EXPECT_FALSE(view.IsChecked(Box::Pnp));
    EXPECT_TRUE(view.IsChecked(Box::Autoscan));

    // The drop-down list keeps the addresses sorted and its selection as the session says.
    for (const int address : {12, 3, 7}) {
        window.Session().UpdateAddressList(address, true);
    }
    EXPECT_EQ(window.Entries(), (std::vector<std::string>{"03", "07", "12"}));
    EXPECT_EQ(window.Selected(), QStringLiteral("12"));
    EXPECT_EQ(window.Session().SelectedAddress(), 12);
    window.Session().UpdateAddressList(7, false);
    EXPECT_EQ(window.Entries(), (std::vector<std::string>{"03", "12"}));
    EXPECT_EQ(window.Selected(), QStringLiteral("03"));
}

TEST_F(MainWindowTest, AutoscanSwitchesTheControlsAndThePollTimer) {
    CWindowUnderTest window(RealTime());
    ASSERT_TRUE(window.PollTimer()->isActive());

    QTest::mouseClick(window.Autoscan(), Qt::LeftButton);
    EXPECT_FALSE(window.Autoscan()->isChecked());
    EXPECT_FALSE(window.PollTimer()->isActive());
    EXPECT_TRUE(window.SendButton()->isEnabled());
    EXPECT_TRUE(window.TextEdit()->isEnabled());
    EXPECT_FALSE(window.Pnp()->isEnabled());
    EXPECT_TRUE(window.Pnp()->isChecked()); // kept while disabled

    PollCycleState state = window.Session().PollState();
    state.bAwaitingResponse = true;
    state.bProbeSelected = false;
    window.Session().SetPollState(state);
    QTest::mouseClick(window.Autoscan(), Qt::LeftButton);
    EXPECT_TRUE(window.PollTimer()->isActive());
    EXPECT_FALSE(window.Session().PollState().bAwaitingResponse);
    EXPECT_TRUE(window.Session().PollState().bProbeSelected);
    EXPECT_FALSE(window.SendButton()->isEnabled());
    EXPECT_FALSE(window.TextEdit()->isEnabled());
    EXPECT_TRUE(window.Pnp()->isEnabled());
}

TEST_F(MainWindowTest, StartPollingRestartsThePeriodAndKeepsTheScanState) {
    CWindowUnderTest window(RealTime());
    window.Session().SetPollState(PollCycleState{42, 7, true, false, 3});
    // 150 ms into the period; a restart begins a full 700 ms again. The margins leave room for a
    // busy machine to stall the test for a while between the two readings.
    QTest::qWait(150);
    ASSERT_LT(window.PollTimer()->remainingTime(), 600);

    window.Session().StartPolling();
    EXPECT_GT(window.PollTimer()->remainingTime(), 600);
    const PollCycleState restarted{42, 7, false, true, 3};
    EXPECT_EQ(window.Session().PollState(), restarted);

    window.Session().StopPolling();
    EXPECT_FALSE(window.PollTimer()->isActive());
    EXPECT_EQ(window.Session().PollState(), restarted);
}

TEST_F(MainWindowTest, TheRealTimerTicksIntoThePollCycle) {
    CWindowUnderTest window(RealTime());
    window.PollTimer()->setInterval(1); // the same timer, faster, so the test does not wait 700 ms
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.Session().PollState().bAwaitingResponse; }, 2000));
    EXPECT_EQ(window.Session().PollState().currentAddress, 1); // the first probe
}

TEST_F(MainWindowTest, SystemMenuCarriesTheAboutEntryAndOtherCommandsKeepTheirDefaults) {
    CWindowUnderTest window(RealTime(Start::None));
    CMeterTestDlg& dlg = window.Window();
    std::vector<int> opened;
    dlg.SetAboutBox([&opened] { opened.push_back(1); });
    window.Show();

    const auto actions = window.SystemMenu()->actions();
    ASSERT_GE(actions.size(), 2);
    EXPECT_TRUE(actions[actions.size() - 2]->isSeparator());
    QAction* pAbout = actions.back();
    EXPECT_EQ(pAbout->text(), QString::fromUtf8("QD7Series 정보(&A)..."));
    EXPECT_EQ(pAbout->data().toUInt(), 16U);
    pAbout->trigger();
    EXPECT_EQ(opened.size(), 1U);

    // The low four bits are dropped: 16..31 open the box, their neighbours do not.
    for (const unsigned id : {16U, 17U, 31U, 15U, 32U, 0xF010U}) {
        opened.clear();
        dlg.OnSysCommand(id);
        EXPECT_EQ(opened.size(), (id >= 16 && id <= 31) ? 1U : 0U) << id;
    }
    EXPECT_TRUE(dlg.isVisible());

    dlg.OnSysCommand(0xF060); // close
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Rejected);
}

TEST_F(MainWindowTest, EnterOutsideAPushButtonCountsAsOk) {
    CWindowUnderTest window(RealTime());
    QTest::keyClick(window.AddressList(), Qt::Key_Return);
    EXPECT_FALSE(window.Window().isVisible());
    EXPECT_EQ(window.Window().result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, TeardownStopsTheTimerBeforeClosingThePortThenDetachesTheRenderers) {
    CForwardingSerialOps::Record record;
    CWindowUnderTest::Options options = RealTime();
    options.pOps = std::make_unique<CForwardingSerialOps>(record);
    CWindowUnderTest window(std::move(options));
    CMeterTestDlg& dlg = window.Window();
    bool bTimerActiveAtClose = true;
    bool bLampsAttachedAtClose = false;
    record.fnBeforeClose = [&] {
        bTimerActiveAtClose = window.PollTimer()->isActive();
        window.View().DrawLamp(Lamp::Send, LampColour::Yellow);
        bLampsAttachedAtClose = ShowsLamp(window.Panel(), kSendLampOrigin, LampYellow);
    };

    // The modal run ends (Escape); the teardown follows it.
    QTimer::singleShot(0, &dlg, [&dlg] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);

    EXPECT_EQ(record.nCloses, 1);
    EXPECT_FALSE(bTimerActiveAtClose);
    EXPECT_TRUE(bLampsAttachedAtClose);
    EXPECT_EQ(window.Session().State(), DeviceState::Ended);
    EXPECT_FALSE(window.PollTimer()->isActive());

    // Detached: nothing reaches the panel any more, not even from a late tick.
    const QImage before = window.Panel().copy();
    window.View().DrawLamp(Lamp::Send, LampColour::Green);
    window.View().DrawValue("88888");
    window.Session().OnPollTimer(0);
    window.Session().OnPollTimer(0);
    EXPECT_EQ(window.Panel(), before);
    EXPECT_TRUE(m_pty.ReadMaster(35, 20).empty());
}

} // namespace
