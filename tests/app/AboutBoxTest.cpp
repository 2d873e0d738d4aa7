// The about box as the main window's system command opens it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "app/AboutDlg.h"
#include "app/MeterTestApp.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WindowUnderTest.h"
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"

namespace {

class AboutBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_env.Set("QD7_COM1", m_pty.SlavePath());
    }
    CEnvGuard m_env;
    PtyPair m_pty;
};

TEST_F(AboutBoxTest, CommandsSixteenToThirtyOneOpenItAndOthersDoNot) {
    CWindowUnderTest window(
        {.start = CWindowUnderTest::Start::None, .bTestTicks = false, .bExpectBoxes = true});
    CModalCatcher& catcher = window.Boxes();
    CMeterTestDlg& dlg = window.Window();
    InstallAboutBox(dlg);
    window.Show();
    ASSERT_TRUE(catcher.m_vecSeen.empty());

    for (const unsigned id : {16U, 31U, 15U, 32U, 0xF010U, 0x0011U}) {
        catcher.m_vecSeen.clear();
        dlg.OnSysCommand(id);
        const bool bOpens = (id & 0xFFF0U) == 16U;
        ASSERT_EQ(catcher.m_vecSeen.size(), bOpens ? 1U : 0U) << id;
        if (bOpens) {
            EXPECT_EQ(catcher.m_vecSeen[0].className, QStringLiteral("CAboutDlg")) << id;
        }
    }
    // Closing the box changes nothing on the main window; its poll timer ran on meanwhile.
    EXPECT_TRUE(dlg.isVisible());
    EXPECT_TRUE(window.PollTimer()->isActive());
}

TEST_F(AboutBoxTest, ShowsTheTemplateTextsIconAndOkButton) {
    CAboutDlg about;
    EXPECT_EQ(about.windowTitle(), QString::fromUtf8("QD7Series 정보"));
    const CDialogUnits units = CDialogUnits::FromFont(about.font());
    EXPECT_EQ(about.size(), QSize(units.ToPixelsX(235), units.ToPixelsY(55)));

    QStringList texts;
    bool bIcon = false;
    const auto labels = about.findChildren<QLabel*>();
    for (const QLabel* pLabel : labels) {
        texts << pLabel->text();
        bIcon = bIcon || !pLabel->pixmap().isNull();
    }
    EXPECT_TRUE(texts.contains(QString::fromUtf8("QD7Series 버전 1.0")));
    EXPECT_TRUE(bIcon);

    const auto buttons = about.findChildren<QPushButton*>();
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), QString::fromUtf8("확인"));
    EXPECT_TRUE(buttons[0]->isDefault());

    // OK and Escape both end it.
    about.show();
    QTest::mouseClick(buttons[0], Qt::LeftButton);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Accepted);
    about.show();
    QTest::keyClick(&about, Qt::Key_Escape);
    EXPECT_FALSE(about.isVisible());
    EXPECT_EQ(about.result(), QDialog::Rejected);
}

} // namespace
