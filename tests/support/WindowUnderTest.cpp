#include "tests/support/WindowUnderTest.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include "ui/MeterTestDlg.h"

namespace {

// An hour: no tick of the timer's own falls inside a test, and a restart keeps the period.
constexpr int kTestTicksOnlyMs = 3600 * 1000;

} // namespace

CWindowUnderTest::CWindowUnderTest(Options options)
    : m_catcher(options.bExpectBoxes ? CModalCatcher::Mode::Accept
                                     : CModalCatcher::Mode::FailOnMessageBox) {
    if (options.com1) {
        m_env.Set("QD7_COM1", *options.com1);
    }
    m_pDlg = std::make_unique<CMeterTestDlg>(std::move(options.pOps));
    Drive(m_pDlg.get());
    if (options.dirs) {
        Session().SerialPort().SetPortDirectories(*options.dirs);
    }
    if (options.bTestTicks) {
        PollTimer()->setInterval(kTestTicksOnlyMs);
        m_pDlg->SetSleep([this](int ms) {
            m_vecSleeps.push_back(ms);
            if (m_fnOnSleep) {
                m_fnOnSleep(ms);
            }
        });
    }
    switch (options.start) {
    case Start::None:
        break;
    case Start::Initialised:
        m_pDlg->OnInitDialog();
        break;
    case Start::Shown:
        Show();
        break;
    }
}

CWindowUnderTest::~CWindowUnderTest() {
    Close();
}

void CWindowUnderTest::Show() {
    m_pDlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    QCoreApplication::processEvents();
}

void CWindowUnderTest::Close() {
    m_pDlg.reset();
    Drive(nullptr);
}
