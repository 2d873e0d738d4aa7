#include "tests/setup/SetupFixture.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QProgressBar>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <termios.h>

#include "tests/support/LineProbe.h"
#include "tests/support/PtyMeter.h"
#include "ui/SetupDlg.h"

using namespace std::chrono_literals;

namespace {

constexpr int kReplyPauseMs = 700;
constexpr auto kWaitLimit = 3s;
constexpr int kWaitLimitMs = 3000;
constexpr int kReplyLength = 19;

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
    // Shown: initialised, COM1 opened, the poll timer running (too slowly to tick in a test).
    m_pWindow =
        std::make_unique<CWindowUnderTest>(CWindowUnderTest::Options{.com1 = m_pty.SlavePath()});
    m_pWindow->OnSleep([this](int ms) { Sleep(ms); });
    ASSERT_EQ(Session().State(), DeviceState::Open);
}

void SetupFixture::TearDown() {
    m_pWindow.reset();
    m_server.Stop();
}

void SetupFixture::Sleep(int ms) {
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
    if (!WaitInput(m_pty, kReplyLength, kWaitLimitMs)) {
        ADD_FAILURE() << "the reply did not reach the port";
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
    Window().ClickPanel();
    poller.stop();
    // OK may have begun opening the port on a thread of its own: its end, as between two ticks.
    Window().Settle();
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
