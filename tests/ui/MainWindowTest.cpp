// The main window without meters: start values, the port and its failure, the Autoscan switch,
// the poll timer, the address list, system commands and teardown.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QFontInfo>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

#include "render/PanelLayout.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/ListEntries.h"
#include "tests/support/PtyPair.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "tests/ui/ModalCatcher.h"
#include "tests/ui/PanelPixels.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

namespace {

constexpr int kRedRow = 1;
constexpr int kBlankCell = 12;
// Scan cursor 0, no current address, no reply awaited, the selected meter next, nothing counted.
const PollCycleState kResetState{0, -1, false, true, 0};

// The window's poll cycle with some of its values changed, as earlier ticks could have left it.
void SetCycle(CMeterTestDlg& dlg, const std::function<void(PollCycleState&)>& change) {
    PollCycleState state = dlg.m_pollCycle.State();
    change(state);
    dlg.m_pollCycle = CPollCycle(state);
}

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_env.Set("QD7_COM1", m_pty.SlavePath());
    }

    const QImage& Panel(CMeterTestDlg& dlg) { return dlg.m_pPicture->Surface()->image; }

    CEnvGuard m_env;
    PtyPair m_pty;
};

TEST_F(MainWindowTest, StartsWithTheDefaultsOnTheDefaultLine) {
    CForwardingSerialOps::Record record;
    CModalCatcher catcher;
    CMeterTestDlg dlg(std::make_unique<CForwardingSerialOps>(record));
    // The poll-cycle state is defined before initialisation, for a tick that comes early.
    EXPECT_EQ(dlg.m_pollCycle.State(), kResetState);
    EXPECT_FALSE(dlg.m_pPollTimer->isActive());

    dlg.show(); // runs OnInitDialog first

    EXPECT_TRUE(catcher.m_vecSeen.empty());
    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("QD7 Series RS485 test app."));
    EXPECT_STREQ(dlg.m_szDisplayText.data(), "    0");
    EXPECT_EQ(dlg.m_strUnit, "Sec");
    EXPECT_EQ(dlg.m_portSettings, (PortSettings{0, 6, 1, 0, 0}));

    // COM1 at 9600 baud, 8 data bits, no parity, one stop bit.
    EXPECT_TRUE(dlg.m_serialPort.IsOpen());
    ASSERT_EQ(record.configured.size(), 1U);
    EXPECT_EQ(record.configured[0].speed, 9600);
    EXPECT_EQ(record.configured[0].dataBits, 8);
    EXPECT_EQ(record.configured[0].parity, 0);
    EXPECT_EQ(record.configured[0].stopBits, 0);

    EXPECT_TRUE(dlg.m_pAutoscan->isChecked());
    EXPECT_TRUE(dlg.m_pPnp->isChecked());
    EXPECT_TRUE(dlg.m_pPnp->isEnabled());
    EXPECT_FALSE(dlg.m_pBank1->isChecked());
    EXPECT_FALSE(dlg.m_pSendButton->isEnabled());
    EXPECT_FALSE(dlg.m_pTextEdit->isEnabled());
    EXPECT_TRUE(dlg.m_pProgress->isHidden());
    EXPECT_EQ(dlg.m_pCrcLabel->text(), QStringLiteral("ETX,CRC"));
    EXPECT_TRUE(dlg.m_pTextEdit->text().isEmpty());
    EXPECT_TRUE(dlg.m_pResponseEdit->text().isEmpty());
    EXPECT_TRUE(dlg.m_pResponseEdit->isReadOnly());
    EXPECT_EQ(dlg.m_pAddressList->count(), 0);
    EXPECT_EQ(dlg.focusWidget(), dlg.m_pAddressList);

    EXPECT_TRUE(dlg.m_pPollTimer->isActive());
    EXPECT_EQ(dlg.m_pPollTimer->interval(), 700);
    EXPECT_EQ(dlg.m_pPollTimer->timerType(), Qt::PreciseTimer);
    EXPECT_TRUE(dlg.m_pPollTimer->isActive());

    // Painted: "    0" in red, four blank cells and the zero on the five cells printed on the
    // panel.
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dlg));
    QCoreApplication::processEvents();
    const QImage& panel = Panel(dlg);
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
    CMeterTestDlg dlg;
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
    QWidget* pWidget = dlg.m_pAddressList;
    do {
        if ((pWidget->focusPolicy() & Qt::TabFocus) != 0 && pWidget->parentWidget() == &dlg) {
            order.push_back(pWidget->property("dialogId").toInt());
        }
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != dlg.m_pAddressList && order.size() < 20);
    EXPECT_EQ(order, (std::vector<int>{1008, 1018, 1007, 1006, 1002, 1001, 1003}));
}

TEST_F(MainWindowTest, LayoutKeepsEveryControlInTheWindowAndOffThePanel) {
    CMeterTestDlg dlg;
    const QRect panel(QPoint(0, 0), dlg.m_pPicture->size());
    EXPECT_EQ(panel.size(), QSize(264, 104));
    const QRect client = dlg.rect();
    const auto children = dlg.findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    for (const QWidget* pChild : children) {
        if (pChild == dlg.m_pPicture || pChild->isHidden() || pChild->isWindow()) {
            continue;
        }
        // The response edit reaches one dialog unit past the bottom, as its template has it.
        const QRect rect = pChild->geometry();
        EXPECT_TRUE(client.contains(rect.topLeft())) << pChild->metaObject()->className();
        EXPECT_LE(rect.right(), client.right()) << pChild->metaObject()->className();
        EXPECT_FALSE(panel.intersects(rect)) << pChild->metaObject()->className();
    }
    // The hidden progress bar lies over the response edit.
    EXPECT_TRUE(dlg.m_pResponseEdit->geometry().intersects(dlg.m_pProgress->geometry()));
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
    m_env.Set("QD7_COM1", "/nonexistent/qd7-test/com1");
    CModalCatcher catcher;
    CMeterTestDlg dlg;
    QCursor::setPos(500, 380); // the window opens centred on the pointer
    bool bPollingDuringBox = false;
    PollCycleState duringBox;
    catcher.m_fnWhileOpen = [&] {
        bPollingDuringBox = dlg.m_pPollTimer->isActive();
        dlg.OnPollTimer(0); // a tick that falls due while the box is open
        duringBox = dlg.m_pollCycle.State();
    };
    ::testing::internal::CaptureStderr();
    dlg.show();
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
    EXPECT_EQ(box.detailedText.toStdString(), reason);
    // Its first line; the offscreen platform may add notes of its own behind it.
    EXPECT_EQ(stderrText.substr(0, stderrText.find('\n')),
              QCoreApplication::applicationName().toStdString() + ": COM1 can't open! " + reason);
    EXPECT_TRUE(bPollingDuringBox); // the timer starts before the port is opened
    // Over the main window, which was placed before the box opened.
    EXPECT_LE((dlg.frameGeometry().center() - QPoint(500, 380)).manhattanLength(), 8);
    EXPECT_LE((box.frame.center() - dlg.frameGeometry().center()).manhattanLength(), 16);

    EXPECT_FALSE(dlg.m_serialPort.IsOpen());
    EXPECT_TRUE(dlg.m_pPollTimer->isActive());
    // The early tick moved the cycle; the failed open still reset it.
    ASSERT_NE(duringBox, kResetState);
    EXPECT_EQ(dlg.m_pollCycle.State(), kResetState);

    // Without a port a poll sends nothing and counts as no reply; the window keeps working.
    dlg.OnPollTimer(0);
    dlg.OnPollTimer(0);
    EXPECT_EQ(dlg.m_pResponseEdit->text(), QString());
    EXPECT_TRUE(ShowsLamp(Panel(dlg), kReceiveLampOrigin, LampYellow));

    // The one-based number of the port in the settings.
    m_env.Set("QD7_COM3", "/nonexistent/qd7-test/com3");
    dlg.m_portSettings.portIndex = 2;
    dlg.ClosePort();
    dlg.OpenPortFromSettings();
    ASSERT_EQ(catcher.m_vecSeen.size(), 2U);
    EXPECT_EQ(catcher.m_vecSeen[1].text, QStringLiteral("COM3 can't open!"));
}

TEST_F(MainWindowTest, SettingsIndicesBecomeTheLineSettingsOfTheTables) {
    struct Case {
        PortSettings settings;
        int port;
        LineSettings line;
    };
    const std::vector<Case> cases = {
        {{0, 14, 1, 0, 0}, 1, {256000, 8, 0, 0}}, {{0, 0, 1, 0, 0}, 1, {110, 8, 0, 0}},
        {{0, 6, 0, 0, 0}, 1, {9600, 7, 0, 0}},    {{0, 6, 1, 2, 0}, 1, {9600, 8, 2, 0}},
        {{0, 6, 1, 1, 1}, 1, {9600, 8, 1, 2}},    {{7, 10, 1, 0, 0}, 8, {56000, 8, 0, 0}},
    };
    for (const Case& c : cases) {
        CForwardingSerialOps::Record record;
        CModalCatcher catcher;
        CMeterTestDlg dlg(std::make_unique<CForwardingSerialOps>(record));
        dlg.OnInitDialog();
        ASSERT_EQ(record.configured.size(), 1U);

        m_env.Set("QD7_COM" + std::to_string(c.port), m_pty.SlavePath());
        dlg.m_portSettings = c.settings;
        dlg.ClosePort();
        dlg.OpenPortFromSettings();
        EXPECT_TRUE(catcher.m_vecSeen.empty()) << c.port;
        ASSERT_EQ(record.configured.size(), 2U);
        const LineSettings& line = record.configured[1];
        EXPECT_EQ(line.speed, c.line.speed);
        EXPECT_EQ(line.dataBits, c.line.dataBits);
        EXPECT_EQ(line.parity, c.line.parity);
        EXPECT_EQ(line.stopBits, c.line.stopBits);
    }
}

TEST_F(MainWindowTest, ReopeningResetsTheCycleButKeepsTheListSoTheFirstRequestIsAProbe) {
    CModalCatcher catcher;
    CMeterTestDlg dlg;
    dlg.OnInitDialog();
    dlg.m_pPollTimer->stop(); // the test drives the ticks
    dlg.m_nPollPeriodMs = 3600 * 1000;
    dlg.UpdateAddressList(3, true);
    dlg.UpdateAddressList(7, true);
    ASSERT_EQ(dlg.m_pollCycle.State().listedCount, 2);
    SetCycle(dlg, [](PollCycleState& s) {
        s.scanCursor = 42;
        s.currentAddress = 7;
        s.bAwaitingResponse = true;
    });

    dlg.ClosePort();
    dlg.OpenPortFromSettings();

    EXPECT_TRUE(catcher.m_vecSeen.empty());
    EXPECT_EQ(ListEntries(dlg.m_pAddressList), (std::vector<std::string>{"03", "07"}));
    EXPECT_EQ(dlg.m_pAddressList->currentText(), QStringLiteral("03"));
    EXPECT_EQ(dlg.m_pollCycle.State(), kResetState);

    // Counted empty until a reply recounts the list: the first request probes 01, not 03.
    dlg.OnPollTimer(0);
    EXPECT_EQ(dlg.m_pollCycle.CurrentAddress(), 1);
    EXPECT_EQ(dlg.m_pTextEdit->text(), QStringLiteral("01RX0P0+0000000"));
}

TEST_F(MainWindowTest, AutoscanSwitchesTheControlsAndThePollTimer) {
    CMeterTestDlg dlg;
    dlg.show();
    ASSERT_TRUE(dlg.m_pPollTimer->isActive());

    QTest::mouseClick(dlg.m_pAutoscan, Qt::LeftButton);
    EXPECT_FALSE(dlg.m_pAutoscan->isChecked());
    EXPECT_FALSE(dlg.m_pPollTimer->isActive());
    EXPECT_TRUE(dlg.m_pSendButton->isEnabled());
    EXPECT_TRUE(dlg.m_pTextEdit->isEnabled());
    EXPECT_FALSE(dlg.m_pPnp->isEnabled());
    EXPECT_TRUE(dlg.m_pPnp->isChecked()); // kept while disabled

    SetCycle(dlg, [](PollCycleState& s) {
        s.bAwaitingResponse = true;
        s.bProbeSelected = false;
    });
    QTest::mouseClick(dlg.m_pAutoscan, Qt::LeftButton);
    EXPECT_TRUE(dlg.m_pPollTimer->isActive());
    EXPECT_FALSE(dlg.m_pollCycle.State().bAwaitingResponse);
    EXPECT_TRUE(dlg.m_pollCycle.State().bProbeSelected);
    EXPECT_FALSE(dlg.m_pSendButton->isEnabled());
    EXPECT_FALSE(dlg.m_pTextEdit->isEnabled());
    EXPECT_TRUE(dlg.m_pPnp->isEnabled());
}

TEST_F(MainWindowTest, StartPollingRestartsThePeriodAndKeepsTheScanState) {
    CMeterTestDlg dlg;
    dlg.show();
    dlg.m_pollCycle = CPollCycle(PollCycleState{42, 7, true, false, 3});
    // 150 ms into the period; a restart begins a full 700 ms again. The margins leave room for a
    // busy machine to stall the test for a while between the two readings.
    QTest::qWait(150);
    ASSERT_LT(dlg.m_pPollTimer->remainingTime(), 600);

    dlg.StartPolling();
    EXPECT_GT(dlg.m_pPollTimer->remainingTime(), 600);
    const PollCycleState restarted{42, 7, false, true, 3};
    EXPECT_EQ(dlg.m_pollCycle.State(), restarted);

    dlg.StopPolling();
    EXPECT_FALSE(dlg.m_pPollTimer->isActive());
    EXPECT_EQ(dlg.m_pollCycle.State(), restarted);
}

TEST_F(MainWindowTest, TheRealTimerTicksIntoThePollCycle) {
    CMeterTestDlg dlg;
    dlg.show();
    dlg.m_pPollTimer->setInterval(1); // the same timer, faster, so the test does not wait 700 ms
    EXPECT_TRUE(QTest::qWaitFor([&] { return dlg.m_pollCycle.State().bAwaitingResponse; }, 2000));
    EXPECT_EQ(dlg.m_pollCycle.CurrentAddress(), 1); // the first probe
}

struct ListCase {
    const char* name;
    std::vector<const char*> entries;
    int selected; // index, -1 none
    int address;
    bool found;
    std::vector<std::string> expected;
    const char* expectedSelection; // "" none
    int expectedCount;             // -1: left as it was (42)
};

void PrintTo(const ListCase& c, std::ostream* pOut) {
    *pOut << c.name;
}

class UpdateAddressListTest : public MainWindowTest,
                              public ::testing::WithParamInterface<ListCase> {};

TEST_P(UpdateAddressListTest, FollowsTheReplies) {
    const ListCase& c = GetParam();
    CModalCatcher catcher;
    CMeterTestDlg dlg;
    dlg.OnInitDialog();
    for (const char* entry : c.entries) {
        dlg.m_pAddressList->addItem(QString::fromLatin1(entry));
    }
    dlg.m_pAddressList->setCurrentIndex(c.selected);
    dlg.m_pollCycle.CountListed(42);

    dlg.UpdateAddressList(c.address, c.found);

    EXPECT_EQ(ListEntries(dlg.m_pAddressList), c.expected);
    EXPECT_EQ(dlg.m_pAddressList->currentText(), QString::fromLatin1(c.expectedSelection));
    EXPECT_EQ(dlg.m_pollCycle.State().listedCount, c.expectedCount < 0 ? 42 : c.expectedCount);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UpdateAddressListTest,
    ::testing::Values(
        ListCase{"InsertsInOrderKeepingTheSelection",
                 {"03", "12"},
                 1,
                 7,
                 true,
                 {"03", "07", "12"},
                 "12",
                 3},
        ListCase{"FirstEntryIsSelected", {}, -1, 5, true, {"05"}, "05", 1},
        ListCase{"ListedAgainOnlyRecounts", {"03", "07"}, 1, 7, true, {"03", "07"}, "07", 2},
        ListCase{"BadReplyOfSelectedMovesToEntry0",
                 {"03", "07", "12"},
                 2,
                 12,
                 false,
                 {"03", "07"},
                 "03",
                 2},
        ListCase{
            "BadReplyOfProbeMovesToEntry0", {"03", "07", "12"}, 2, 7, false, {"03", "12"}, "03", 2},
        ListCase{"LastOneLeavesNothingSelected", {"05"}, 0, 5, false, {}, "", 0},
        ListCase{"BadReplyOfUnlistedChangesNothing", {"03"}, 0, 9, false, {"03"}, "03", 1},
        ListCase{"Address100Ignored", {"03"}, 0, 100, true, {"03"}, "03", -1},
        ListCase{"NoneIgnored", {"03"}, 0, -1, false, {"03"}, "03", -1},
        ListCase{"NegativeIgnored", {"05"}, 0, -5, false, {"05"}, "05", -1},
        ListCase{"Address0Listed", {"03"}, 0, 0, true, {"00", "03"}, "03", 2}),
    [](const ::testing::TestParamInfo<ListCase>& info) { return std::string(info.param.name); });

TEST_F(MainWindowTest, SelectedMeterIsTheListTextAndZeroWithoutOne) {
    CMeterTestDlg dlg;
    EXPECT_EQ(dlg.SelectedAddress(), 0);
    dlg.UpdateAddressList(12, true);
    dlg.UpdateAddressList(7, true);
    EXPECT_EQ(dlg.SelectedAddress(), 12);
    dlg.UpdateAddressList(12, false);
    EXPECT_EQ(dlg.SelectedAddress(), 7);
}

TEST_F(MainWindowTest, SystemMenuCarriesTheAboutEntryAndOtherCommandsKeepTheirDefaults) {
    CModalCatcher catcher;
    CMeterTestDlg dlg;
    std::vector<int> opened;
    dlg.m_fnAboutBox = [&opened] { opened.push_back(1); };
    dlg.show();

    const auto actions = dlg.m_pSystemMenu->actions();
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
    CMeterTestDlg dlg;
    dlg.show();
    QTest::keyClick(dlg.m_pAddressList, Qt::Key_Return);
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
}

TEST_F(MainWindowTest, TeardownStopsTheTimerBeforeClosingThePortThenDetachesTheRenderers) {
    CForwardingSerialOps::Record record;
    CMeterTestDlg dlg(std::make_unique<CForwardingSerialOps>(record));
    dlg.show();
    bool bTimerActiveAtClose = true;
    bool bLampsAttachedAtClose = false;
    record.fnBeforeClose = [&] {
        bTimerActiveAtClose = dlg.m_pPollTimer->isActive();
        dlg.m_lampDisplay.DrawLamp(4, 85, LampYellow);
        bLampsAttachedAtClose = ShowsLamp(Panel(dlg), kSendLampOrigin, LampYellow);
    };

    // The modal run ends (Escape); the teardown follows it.
    QTimer::singleShot(0, &dlg, [&dlg] { QTest::keyClick(&dlg, Qt::Key_Escape); });
    EXPECT_EQ(dlg.exec(), QDialog::Rejected);

    EXPECT_EQ(record.nCloses, 1);
    EXPECT_FALSE(bTimerActiveAtClose);
    EXPECT_TRUE(bLampsAttachedAtClose);
    EXPECT_FALSE(dlg.m_serialPort.IsOpen());
    EXPECT_FALSE(dlg.m_pPollTimer->isActive());

    // Detached: nothing reaches the panel any more, not even from a late tick.
    const QImage before = Panel(dlg).copy();
    dlg.m_lampDisplay.DrawLamp(4, 85, LampGreen);
    std::snprintf(dlg.m_szDisplayText.data(), dlg.m_szDisplayText.size(), "88888");
    dlg.OnPollTimer(0);
    dlg.OnPollTimer(0);
    EXPECT_EQ(Panel(dlg), before);
    EXPECT_EQ(dlg.m_digitDisplay.m_nColorRow, 0);
    EXPECT_TRUE(m_pty.ReadMaster(35, 20).empty());
}

} // namespace
