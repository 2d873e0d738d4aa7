#include "tests/setup/SetupFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <termios.h>

#include "protocol/CodeTables.h"
#include "tests/support/FdIo.h"
#include "tests/support/LineProbe.h"
#include "ui/PictureCtrl.h"
#include "ui/SetupDlg.h"

using namespace std::chrono_literals;

namespace {

constexpr int kReplyPauseMs = 700;
constexpr auto kWaitLimit = 3s;
constexpr int kReplyLength = 19;
constexpr int kNoRealTicksMs = 3600 * 1000;

std::vector<CSimMeter> Meters() {
    return {CSimMeter(SetupFixture::kMeterA), CSimMeter(SetupFixture::kMeterB)};
}

} // namespace

SetupFixture::SetupFixture()
    : m_bus(Meters(), {}, 1, [] { return std::chrono::milliseconds(0); }), m_server(m_bus) {}

void SetupFixture::SetUp() {
    ASSERT_TRUE(m_pty.IsOpen());
    ASSERT_TRUE(m_server.ServeFd(m_pty.MasterFd()));
    ASSERT_TRUE(m_server.Start());
    m_env.Set("QD7_COM1", m_pty.SlavePath());

    m_pDlg = std::make_unique<CMeterTestDlg>();
    m_pDlg->m_fnSleep = [this](int ms) { Sleep(ms); };
    m_pDlg->m_nPollPeriodMs = kNoRealTicksMs; // every tick comes from the test
    m_pDlg->show();                           // initialises: COM1 opened, poll timer running
    ASSERT_TRUE(QTest::qWaitForWindowExposed(m_pDlg.get()));
    ASSERT_TRUE(m_pDlg->m_serialPort.IsOpen());
}

void SetupFixture::TearDown() {
    m_pDlg.reset();
    m_server.Stop();
}

void SetupFixture::Sleep(int ms) {
    m_vecSleeps.push_back(ms);
    m_vecTimerActiveInSleep.push_back(m_pDlg->m_pPollTimer->isActive());
    if (m_fnOnSleep) {
        m_fnOnSleep(ms);
    }
    if (ms != kReplyPauseMs) {
        m_nFramesSeen = m_server.FramesReceived();
        m_nRepliesSeen = m_server.RepliesSent();
        return;
    }
    if (!m_server.WaitForFrames(m_nFramesSeen + 1, kWaitLimit)) {
        ADD_FAILURE() << "the simulator heard no request";
        return;
    }
    m_nFramesSeen = m_server.FramesReceived();
    if (!m_bExpectReplies) {
        return;
    }
    if (!m_server.WaitForReplies(m_nRepliesSeen + 1, kWaitLimit)) {
        ADD_FAILURE() << "the simulator sent no reply";
        return;
    }
    m_nRepliesSeen = m_server.RepliesSent();
    WaitForBytesOnPort(kReplyLength);
}

void SetupFixture::WaitForBytesOnPort(int count) {
    if (!WaitForInput(static_cast<int>(m_pDlg->m_serialPort.m_hPort), count, kWaitLimit)) {
        ADD_FAILURE() << "the bytes did not reach the port";
    }
}

void SetupFixture::WithSetupDialog(const std::function<void(CSetupDlg&)>& fn) {
    bool bRan = false;
    QElapsedTimer elapsed;
    elapsed.start();
    QTimer poller;
    poller.setInterval(1);
    QObject::connect(&poller, &QTimer::timeout, [&] {
        auto* pSetup = qobject_cast<CSetupDlg*>(QApplication::activeModalWidget());
        const bool bShown = pSetup != nullptr && pSetup->isVisible() &&
                            pSetup->windowHandle() != nullptr &&
                            pSetup->windowHandle()->isExposed();
        if (!bShown) {
            if (pSetup != nullptr && elapsed.elapsed() > 5000) {
                poller.stop();
                ADD_FAILURE() << "the setup dialog never showed";
                pSetup->reject();
            }
            return;
        }
        poller.stop();
        bRan = true;
        fn(*pSetup);
        if (pSetup->isVisible()) {
            ADD_FAILURE() << "the setup dialog was left open";
            pSetup->reject();
        }
    });
    poller.start();
    QTest::mouseClick(m_pDlg->m_pPicture, Qt::LeftButton, {}, QPoint(100, 50));
    poller.stop();
    EXPECT_TRUE(bRan) << "a click on the front panel opened no setup dialog";
}

unsigned SetupFixture::LineSpeed() const {
    return ProbeLineSpeed(m_pty.SlaveFd()).output;
}

void SetupFixture::SetLineSpeedMarker() {
    termios tio{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &tio), 0);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &tio), 0);
    ASSERT_EQ(LineSpeed(), kMarkerSpeed);
}

CPaintRecorder::CPaintRecorder(QProgressBar* pBar) : m_pBar(pBar) {
    m_pBar->installEventFilter(this);
}

bool CPaintRecorder::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pBar && pEvent->type() == QEvent::Paint) {
        m_vecPainted.push_back(m_pBar->value());
    }
    return false;
}

std::vector<int> CPaintRecorder::Distinct() const {
    std::vector<int> distinct;
    for (const int position : m_vecPainted) {
        if (distinct.empty() || distinct.back() != position) {
            distinct.push_back(position);
        }
    }
    return distinct;
}

std::vector<std::string> ExpectedTexts(int address, int bank) {
    // The simulator's defaults: bank 0 holds a negative value, decimals and 0.00005 in Y0; P0
    // stands at 100 + address in bank 0 and at 0 in bank 1 at time 0.
    if (bank == 0) {
        return {std::to_string(100 + address),
                "900",
                "750.5",
                "20",
                "-15.25",
                "987.6",
                "-12.34",
                "0.0001",
                "1000",
                "5e-05",
                "123456"};
    }
    return {"0", "450", "300", "-5", "-40.5", "55.55", "-0.5", "4", "20", "0", "100"};
}

std::vector<std::string> ReadOutBodies(int address, int bank) {
    std::vector<std::string> bodies;
    for (const std::string_view code : RegisterCodeTable) {
        std::array<char, 32> body{};
        std::snprintf(body.data(), body.size(), "%02dRX%d%.2s+0000000", address, bank, code.data());
        bodies.emplace_back(body.data());
    }
    return bodies;
}
