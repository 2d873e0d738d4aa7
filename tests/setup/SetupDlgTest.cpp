// The setup dialog: template 137, opened with a click on the front panel against simulated meters,
// its read-outs, Reload, and what OK and Cancel do to the main window.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "tests/setup/SetupFixture.h"
#include "tests/support/CommaLocale.h"
#include "ui/DialogLayout.h"
#include "ui/DialogUnits.h"
#include "ui/SetupDlg.h"
#include "ui/SetupDlgLayout.h"

namespace {

// The value fields in register order: P0, C0..C3, K0, K1, X0, X1, Y0, Y1.
constexpr std::array<int, 11> kValueFields = {1020, 1021, 1022, 1023, 1024, 1025,
                                              1026, 1027, 1028, 1029, 1030};

QComboBox* List(const CSetupDlg& dlg, int id) {
    return qobject_cast<QComboBox*>(FindDialogItem(&dlg, id));
}

std::string Text(const CSetupDlg& dlg, int id) {
    const QWidget* pControl = FindDialogItem(&dlg, id);
    if (const auto* pLabel = qobject_cast<const QLabel*>(pControl)) {
        return pLabel->text().toStdString();
    }
    if (const auto* pEdit = qobject_cast<const QLineEdit*>(pControl)) {
        return pEdit->text().toStdString();
    }
    ADD_FAILURE() << "no text control " << id;
    return {};
}

std::vector<std::string> ValueTexts(const CSetupDlg& dlg) {
    std::vector<std::string> texts;
    for (const int id : kValueFields) {
        texts.push_back(Text(dlg, id));
    }
    return texts;
}

void Click(const CSetupDlg& dlg, int id) {
    auto* pButton = qobject_cast<QPushButton*>(FindDialogItem(&dlg, id));
    ASSERT_NE(pButton, nullptr) << id;
    QTest::mouseClick(pButton, Qt::LeftButton);
}

void TypeUnit(const CSetupDlg& dlg, const char* pszText) {
    auto* pEdit = qobject_cast<QLineEdit*>(FindDialogItem(&dlg, kIdcSetupUnit));
    ASSERT_NE(pEdit, nullptr);
    pEdit->selectAll();
    QTest::keyClicks(pEdit, QString::fromUtf8(pszText));
}

TEST(SetupDlgLayoutTest, Template137) {
    CSetupDlg dlg;
    dlg.show(); // no main window: the lists are filled, nothing is read
    const CDialogUnits units = CDialogUnits::FromFont(DialogFont());

    EXPECT_EQ(dlg.windowTitle(), QStringLiteral("Setup QD7 & RS232C/RS485"));
    EXPECT_EQ(dlg.size(), units.ToPixels(0, 0, 267, 189).size());

    // Labels in template order, every one right-aligned.
    const std::vector<std::string> labels = {"Addr:",
                                             "Bank:",
                                             "Process value(P0) :",
                                             "Comparative value HH(C0) :",
                                             "Comparative value H(C1) :",
                                             "Comparative value L(C2) :",
                                             "Comparative value LL(C3) :",
                                             "Peak value max.(K0) :",
                                             "Peak value min.(K1) :",
                                             "Prescaling value X.Ain(X0) :",
                                             "Prescaling value X.Bin(X1) :",
                                             "Prescaling value Y.Ain(Y0) :",
                                             "Prescaling value Y.Bin(Y1) :",
                                             "Port :",
                                             "Speed :",
                                             "Parity :",
                                             "Data :",
                                             "Stop :",
                                             "Unit :"};
    std::vector<std::string> seen;
    for (const QLabel* pLabel : dlg.findChildren<QLabel*>()) {
        if (pLabel->property("dialogId").toInt() == 0) {
            seen.push_back(pLabel->text().toStdString());
            EXPECT_TRUE(pLabel->alignment() & Qt::AlignRight) << seen.back();
            // The whole line shows: a substitute font's descenders ("p" of "Speed", "y" of
            // "Parity") are not cut off by the 8-unit rectangle.
            EXPECT_GE(pLabel->contentsRect().height(), QFontMetrics(pLabel->font()).height())
                << seen.back();
        }
    }
    EXPECT_EQ(seen, labels);

    // Value fields: right-aligned, centred vertically, sunken; the rows 12 units apart.
    for (size_t k = 0; k < kValueFields.size(); ++k) {
        const auto* pField = qobject_cast<const QLabel*>(FindDialogItem(&dlg, kValueFields[k]));
        ASSERT_NE(pField, nullptr) << k;
        EXPECT_EQ(pField->alignment(), Qt::AlignRight | Qt::AlignVCenter);
        EXPECT_EQ(pField->frameShadow(), QFrame::Sunken);
        EXPECT_EQ(pField->focusPolicy(), Qt::NoFocus);
        EXPECT_EQ(pField->geometry(), units.ToPixels(108, 35 + 12 * static_cast<int>(k), 56, 11));
    }
    EXPECT_EQ(FindDialogItem(&dlg, 1019)->geometry(), units.ToPixels(37, 15, 49, 12));
    EXPECT_EQ(FindDialogItem(&dlg, 1033)->geometry(), units.ToPixels(115, 15, 49, 12));
    EXPECT_EQ(FindDialogItem(&dlg, 1034)->geometry(), units.ToPixels(211, 91, 48, 13));
    EXPECT_EQ(FindDialogItem(&dlg, 1031)->geometry(), units.ToPixels(4, 175, 258, 14));
    EXPECT_TRUE(FindDialogItem(&dlg, 1031)->isVisible());
    EXPECT_EQ(dlg.m_pProgress, FindDialogItem(&dlg, 1031));

    const std::vector<std::pair<int, QStringList>> lists = {
        {1013, {"COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7", "COM8"}},
        {1014,
         {"110", "300", "600", "1200", "2400", "4800", "9600", "14400", "19200", "38400", "56000",
          "57600", "115200", "128000", "256000"}},
        {1067, {"None", "Odd", "Even"}},
        {1068, {"7-bit", "8-bit"}},
        {1069, {"1-bit", "2-bit"}},
    };
    for (const auto& [id, items] : lists) {
        QStringList shown;
        for (int i = 0; i < List(dlg, id)->count(); ++i) {
            shown << List(dlg, id)->itemText(i);
        }
        EXPECT_EQ(shown, items) << id;
        EXPECT_EQ(List(dlg, id)->currentIndex(), -1) << id; // the members start at -1
    }

    // The focus starts on Port and moves through the focusable controls in template order.
    EXPECT_EQ(dlg.focusWidget(), FindDialogItem(&dlg, 1013));
    std::vector<int> order;
    QWidget* pWidget = FindDialogItem(&dlg, 1013);
    do {
        if ((pWidget->focusPolicy() & Qt::TabFocus) != 0 && pWidget->isVisible()) {
            order.push_back(pWidget->property("dialogId").toInt());
        }
        pWidget = pWidget->nextInFocusChain();
    } while (pWidget != FindDialogItem(&dlg, 1013));
    EXPECT_EQ(order, (std::vector<int>{1013, 1014, 1067, 1068, 1069, 1034, 1032, 1, 2}));
    dlg.reject();
}

class SetupDlgTest : public SetupFixture {
protected:
    void SetUp() override {
        SetupFixture::SetUp();
        // Meters 07 and 12 listed, 07 selected.
        Session().UpdateAddressList(kMeterB, true);
        Session().UpdateAddressList(kMeterA, true);
        Window().AddressList()->setCurrentIndex(0);
        ASSERT_EQ(Window().Selected(), QStringLiteral("07"));
    }

    // Marks the main window so that a reopened port and a restarted timer show: the scan cursor
    // moved, the timer stopped, the line at a speed the program never sets.
    void MarkMainWindow() {
        PollCycleState moved = Session().PollState();
        moved.scanCursor = 42;
        Session().SetPollState(moved);
        Window().PollTimer()->stop();
        SetLineSpeedMarker();
    }
};

TEST_F(SetupDlgTest, OpensWithTheSelectedMetersRegisters) {
    Window().Bank1()->setChecked(true);
    CPaintRecorder mainBar(Window().Progress());
    // The dialog is created centred on the mouse pointer, not over the main window.
    const QPoint pointer(520, 560);
    QCursor::setPos(pointer);
    ASSERT_NE(Window().Window().frameGeometry().center(), pointer);
    // The first read-out runs before the dialog shows, with its progress on the main window,
    // painted in place of the response edit from the first pause on.
    m_fnOnSleep = [&](int) {
        EXPECT_TRUE(Window().Progress()->isVisible());
        EXPECT_FALSE(Window().ResponseEdit()->isVisible());
        EXPECT_FALSE(mainBar.m_vecPainted.empty());
        const auto* pSetup = qobject_cast<CSetupDlg*>(QApplication::activeModalWidget());
        EXPECT_TRUE(pSetup == nullptr || !pSetup->isVisible());
    };
    WithSetupDialog([&](CSetupDlg& dlg) {
        m_fnOnSleep = nullptr;
        EXPECT_EQ(Text(dlg, 1019), "07");
        EXPECT_EQ(Text(dlg, 1033), "1");
        EXPECT_EQ(ValueTexts(dlg), ExpectedTexts(kMeterA, 1));
        EXPECT_EQ(List(dlg, 1013)->currentText(), QStringLiteral("COM1"));
        EXPECT_EQ(List(dlg, 1014)->currentText(), QStringLiteral("9600"));
        EXPECT_EQ(List(dlg, 1067)->currentText(), QStringLiteral("None"));
        EXPECT_EQ(List(dlg, 1068)->currentText(), QStringLiteral("8-bit"));
        EXPECT_EQ(List(dlg, 1069)->currentText(), QStringLiteral("1-bit"));
        EXPECT_EQ(Text(dlg, 1034), "Sec");
        EXPECT_EQ(dlg.focusWidget(), FindDialogItem(&dlg, 1013));
        // Within the few pixels of the window frame around the client area.
        EXPECT_LE((dlg.frameGeometry().center() - pointer).manhattanLength(), 8);
        Click(dlg, kIdCancel);
    });
    EXPECT_EQ(RequestBodies(), ReadOutBodies(kMeterA, 1));
    EXPECT_EQ(mainBar.Distinct(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
    EXPECT_TRUE(Window().Progress()->isHidden());
    EXPECT_TRUE(Window().ResponseEdit()->isVisible());
}

TEST_F(SetupDlgTest, ValueTextsKeepTheDecimalPointUnderADecimalCommaLocale) {
    // Qt takes the desktop's locale at start-up; the texts must still read as "%g" writes them
    // in the C locale ("750.5", "5e-05"), not "750,5".
    const CCommaDecimalLocale locale;
    if (!locale.IsSet()) {
        GTEST_SKIP() << "no locale with a decimal comma could be set up";
    }
    WithSetupDialog([&](CSetupDlg& dlg) {
        EXPECT_EQ(ValueTexts(dlg), ExpectedTexts(kMeterA, 0));
        Click(dlg, kIdCancel);
    });
}

TEST_F(SetupDlgTest, ReloadReadsAgainAndPutsBackUnconfirmedEdits) {
    WithSetupDialog([&](CSetupDlg& dlg) {
        EXPECT_EQ(ValueTexts(dlg), ExpectedTexts(kMeterA, 0));
        List(dlg, kIdcSetupSpeed)->setCurrentIndex(8);
        List(dlg, kIdcSetupStopBits)->setCurrentIndex(1);
        TypeUnit(dlg, "rpm");

        // Meter 07 has gone quiet: every field reads 0 and the address 00.
        m_bus.SetSilent(kMeterA, true);
        m_bExpectReplies = false;
        m_bus.ClearReceivedBodies();
        CPaintRecorder ownBar(dlg.m_pProgress);
        Click(dlg, kIdcSetupReload);

        EXPECT_EQ(RequestBodies(), ReadOutBodies(kMeterA, 0));
        EXPECT_EQ(ownBar.Distinct(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 0}));
        EXPECT_TRUE(Window().Progress()->isHidden());
        EXPECT_EQ(ValueTexts(dlg), std::vector<std::string>(11, "0"));
        EXPECT_EQ(Text(dlg, 1019), "00");
        EXPECT_EQ(Text(dlg, 1033), "0");
        EXPECT_EQ(List(dlg, kIdcSetupSpeed)->currentIndex(), 6);
        EXPECT_EQ(List(dlg, kIdcSetupStopBits)->currentIndex(), 0);
        EXPECT_EQ(Text(dlg, kIdcSetupUnit), "Sec");
        Click(dlg, kIdCancel);
    });
}

TEST_F(SetupDlgTest, OkWithAnotherSpeedReopensThePortAtIt) {
    // With Autoscan on, polling starts again; with it off, the timer stays off.
    const std::vector<std::pair<bool, int>> cases = {{true, 10}, {false, 13}}; // 56000, 128000
    for (const auto& [bAutoscan, speedIndex] : cases) {
        SCOPED_TRACE(bAutoscan);
        Window().Autoscan()->setChecked(bAutoscan);
        WithSetupDialog([&](CSetupDlg& dlg) {
            MarkMainWindow();
            List(dlg, kIdcSetupSpeed)->setCurrentIndex(speedIndex);
            TypeUnit(dlg, "rpm");
            Click(dlg, kIdOk);
        });
        EXPECT_EQ(Session().Settings(), (PortSettings{0, speedIndex, 1, 0, 0}));
        EXPECT_EQ(LineSpeed(), static_cast<unsigned>(kBaudTable[static_cast<size_t>(speedIndex)]));
        EXPECT_TRUE(Session().SerialPort().IsOpen());
        EXPECT_EQ(Session().PollState().scanCursor,
                  0); // the poll cycle was reset by the reopen
        EXPECT_EQ(Window().PollTimer()->isActive(), bAutoscan);
        EXPECT_EQ(Session().Unit(), "rpm");
    }
}

TEST_F(SetupDlgTest, OkWithTheSameSettingsLeavesPortAndTimerButTakesTheUnit) {
    WithSetupDialog([&](CSetupDlg& dlg) {
        MarkMainWindow();
        TypeUnit(dlg, "°C"); // not ASCII: must reach the panel as typed
        Click(dlg, kIdOk);
    });
    EXPECT_EQ(Session().Settings(), PortSettings{});
    EXPECT_EQ(LineSpeed(), kMarkerSpeed);
    EXPECT_EQ(Session().PollState().scanCursor, 42);
    EXPECT_FALSE(Window().PollTimer()->isActive());
    EXPECT_EQ(Session().Unit(), "\xC2\xB0"
                                "C");
}

TEST_F(SetupDlgTest, CancelAndEscapeChangeNothing) {
    const std::vector<std::function<void(CSetupDlg&)>> ends = {
        [](CSetupDlg& dlg) { Click(dlg, kIdCancel); },
        [](CSetupDlg& dlg) { QTest::keyClick(&dlg, Qt::Key_Escape); },
    };
    for (size_t i = 0; i < ends.size(); ++i) {
        SCOPED_TRACE(i);
        WithSetupDialog([&](CSetupDlg& dlg) {
            MarkMainWindow();
            List(dlg, kIdcSetupSpeed)->setCurrentIndex(10);
            List(dlg, kIdcSetupPort)->setCurrentIndex(3);
            TypeUnit(dlg, "rpm");
            ends[i](dlg);
        });
        EXPECT_EQ(Session().Settings(), PortSettings{});
        EXPECT_EQ(LineSpeed(), kMarkerSpeed);
        EXPECT_EQ(Session().PollState().scanCursor, 42);
        EXPECT_FALSE(Window().PollTimer()->isActive());
        EXPECT_EQ(Session().Unit(), "Sec");
    }
}

// Each "COMn" item keeps its text and tells which device it opens; the ports present are looked
// up afresh each time the dialog opens, so an adapter plugged in meanwhile shows.
TEST_F(SetupDlgTest, PortItemsNameTheirDevicesAsTheyAreNow) {
    std::string root = ::testing::TempDir() + "qd7-setup-ports-XXXXXX";
    ASSERT_NE(mkdtemp(root.data()), nullptr);
    const std::string byId = root + "/by-id";
    ASSERT_EQ(mkdir(byId.c_str(), 0755), 0);
    PtyPair adapterA;
    PtyPair adapterB;
    PtyPair adapterC;
    ASSERT_EQ(symlink(adapterA.SlavePath().c_str(), (byId + "/usb-QD7_A-if00-port0").c_str()), 0);
    ASSERT_EQ(symlink(adapterB.SlavePath().c_str(), (byId + "/usb-QD7_B-if00-port0").c_str()), 0);
    Session().SerialPort().SetPortDirectories(
        {root + "/class", root + "/dev", byId, root + "/by-path"});

    const auto toolTips = [&] {
        QStringList tips;
        WithSetupDialog([&](CSetupDlg& dlg) {
            QComboBox* pPorts = List(dlg, kIdcSetupPort);
            for (int i = 0; i < pPorts->count(); ++i) {
                EXPECT_EQ(pPorts->itemText(i), QStringLiteral("COM%1").arg(i + 1));
                tips << pPorts->itemData(i, Qt::ToolTipRole).toString();
            }
            Click(dlg, kIdCancel);
        });
        return tips;
    };
    const QString com1 = QString::fromStdString(m_pty.SlavePath());
    const QString reopened =
        QStringLiteral("\nReopened by this name after an unplug, never as another adapter");
    QStringList tips = toolTips();
    ASSERT_EQ(tips.size(), 8);
    // A pseudo-terminal's name may be another's after it went: the port in use says so.
    EXPECT_EQ(tips[0], com1 + QStringLiteral(" (QD7_COM1=") + com1 +
                           QStringLiteral(")\nNo stable identity: after an unplug it opens ") +
                           com1 + QStringLiteral(" again, whatever device that names then"));
    // COM1 is the variable's; the second port present is adapter B.
    EXPECT_EQ(tips[1], QString::fromStdString(adapterB.SlavePath()) +
                           QStringLiteral("\nusb-QD7_B-if00-port0") + reopened);
    EXPECT_EQ(tips[2], QStringLiteral("No serial port (2 present)"));

    // Adapter C has no serial number, as sysfs shows it: it is found again by its USB socket.
    namespace fs = std::filesystem;
    const fs::path usb = fs::path(root) / "usb" / "1-2";
    fs::create_directories(usb / "1-2:1.0");
    std::ofstream(usb / "idVendor") << "1a86\n";
    fs::create_directories(fs::path(root) / "class" / "ttyUSB5");
    fs::create_symlink(usb / "1-2:1.0", fs::path(root) / "class" / "ttyUSB5" / "device");
    fs::create_directories(fs::path(root) / "dev");
    fs::create_symlink(adapterC.SlavePath(), fs::path(root) / "dev" / "ttyUSB5");
    fs::create_directories(fs::path(root) / "by-path");
    const std::string socket = root + "/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    fs::create_symlink(fs::path(root) / "dev" / "ttyUSB5", socket);
    fs::create_symlink(fs::path(root) / "dev" / "ttyUSB5", byId + "/usb-QD7_C-if00-port0");
    tips = toolTips();
    EXPECT_EQ(tips[2], QString::fromStdString(adapterC.SlavePath()) +
                           QStringLiteral("\nusb-QD7_C-if00-port0\nNo serial number: reopened "
                                          "after an unplug by its USB socket, ") +
                           QString::fromStdString(socket) +
                           QStringLiteral(", never as another adapter"));
    EXPECT_EQ(tips[3], QStringLiteral("No serial port (3 present)"));
    std::error_code ec;
    std::filesystem::remove_all(root, ec);
}

TEST_F(SetupDlgTest, AListLeftWithoutSelectionKeepsItsSetting) {
    WithSetupDialog([&](CSetupDlg& dlg) {
        MarkMainWindow();
        List(dlg, kIdcSetupSpeed)->setCurrentIndex(-1);
        List(dlg, kIdcSetupParity)->setCurrentIndex(2);
        Click(dlg, kIdOk);
    });
    EXPECT_EQ(Session().Settings(), (PortSettings{0, 6, 1, 2, 0}));
    EXPECT_EQ(LineSpeed(), 9600U);
    EXPECT_EQ(Session().PollState().scanCursor, 0);
}

} // namespace
