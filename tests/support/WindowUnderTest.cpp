#include "tests/support/WindowUnderTest.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTest>
#include <QTimer>

#include <chrono>

#include "ui/MeterTestDlg.h"

namespace {

// An hour: no tick of the timer's own falls inside a test, and a restart keeps the period.
constexpr int kTestTicksOnlyMs = 3600 * 1000;
// An open ends within its network budget of 1 s, or a search of the processes; this only ends a
// test that would hang.
constexpr auto kSettleBound = std::chrono::seconds(20);

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
        Settle();
        break;
    case Start::Shown:
        Show();
        break;
    }
}

void CWindowUnderTest::Settle() {
    const CSerialPort& port = Session().SerialPort();
    const auto deadline = std::chrono::steady_clock::now() + kSettleBound;
    while (port.IsOpening() && std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(2); // the open's end comes as a posted call of the session
    }
    EXPECT_FALSE(port.IsOpening()) << "an open did not end within the bound";
}

void CWindowUnderTest::AdvanceClock(int64_t ms) {
    if (!m_nClockMs) {
        m_nClockMs = 0;
        m_pDlg->SetClock([this] { return *m_nClockMs; });
    }
    *m_nClockMs += ms;
}

CWindowUnderTest::~CWindowUnderTest() {
    Close();
}

void CWindowUnderTest::Show() {
    m_pDlg->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    QCoreApplication::processEvents();
    Settle();
}

void CWindowUnderTest::Close() {
    m_pDlg.reset();
    Drive(nullptr);
}
