// The window on a serial device server, end to end: COM1 is rfc2217://127.0.0.1:PORT, served by
// ser2net in front of a pty whose far side the simulated bus answers. Polling finds the meter, the
// line chosen in the setup dialog is the one the server puts on its port, and a server restarted
// is an adapter replugged: polling comes back by itself, with no dialog.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <chrono>
#include <memory>
#include <string>
#include <termios.h>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/support/FdIo.h"
#include "tests/support/LineProbe.h"
#include "tests/support/ModalCatcher.h"
#include "tests/support/PtyPair.h"
#include "tests/support/Ser2net.h"
#include "tests/support/WindowUnderTest.h"
#include "ui/DialogLayout.h"
#include "ui/MeterSession.h"
#include "ui/SetupDlg.h"
#include "ui/SetupDlgLayout.h"

namespace {

using namespace std::chrono_literals;

constexpr int kMeter = 1;          // the first address the scan probes
constexpr int kReplyPauseMs = 700; // the read-out's pause between a request and its reply
constexpr int kSpeedIndex19200 = 8;
constexpr int kStopBitsIndexTwo = 1;
constexpr auto kWait = 3s;

class DeviceServerE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        ASSERT_TRUE(m_server.ServeFd(m_pty.MasterFd()));
        ASSERT_TRUE(m_server.Start());
        m_pSer2net = std::make_unique<CSer2net>(m_pty.SlavePath(), CSer2net::Mode::Rfc2217);
        ASSERT_TRUE(m_pSer2net->Start()) << m_pSer2net->Log();
    }
    void TearDown() override {
        m_pWindow.reset();
        m_pSer2net.reset();
        m_server.Stop();
    }

    // Every tick comes from the test; `bExpectBoxes`: the start-up's box is part of the test.
    void OpenWindow(bool bExpectBoxes = false) {
        m_pWindow = std::make_unique<CWindowUnderTest>(
            CWindowUnderTest::Options{.com1 = m_pSer2net->Url(), .bExpectBoxes = bExpectBoxes});
        m_pWindow->OnSleep([this](int ms) { Sleep(ms); });
    }
    CMeterSession& Session() { return m_pWindow->Session(); }
    const CSerialPort& Port() { return Session().SerialPort(); }
    // The read-out's pauses end once the bus has answered and the reply lies on the port.
    void Sleep(int ms) {
        if (ms == kReplyPauseMs) {
            EXPECT_TRUE(m_server.WaitForFrames(++m_nFrames, kWait));
            EXPECT_TRUE(m_server.WaitForReplies(++m_nReplies, kWait));
            EXPECT_TRUE(ReplyOnPort());
        }
    }
    // The reply's bytes have reached the window's end of the connection.
    bool ReplyOnPort() {
        return WaitForInput(static_cast<int>(Port().m_hPort), kMinResponseLength, kWait);
    }
    // A send tick, the bus's answer when the polled meter is there, the reply tick.
    void Poll() {
        m_nFrames = m_server.FramesReceived();
        m_nReplies = m_server.RepliesSent();
        Session().OnPollTimer(0);
        if (Port().IsOpen() && Session().PollState().bAwaitingResponse) {
            EXPECT_TRUE(m_server.WaitForFrames(m_nFrames + 1, kWait));
            if (Session().PollState().currentAddress == kMeter) {
                EXPECT_TRUE(m_server.WaitForReplies(m_nReplies + 1, kWait));
                EXPECT_TRUE(ReplyOnPort());
            }
        }
        Session().OnPollTimer(0);
        m_nFrames = m_server.FramesReceived();
        m_nReplies = m_server.RepliesSent();
    }
    bool Listed() const { return m_pWindow->AddressList()->findText(QStringLiteral("01")) >= 0; }
    void PollUntilListed() {
        for (int i = 0; i < 10 && !Listed(); ++i) {
            Poll();
        }
        ASSERT_TRUE(Listed());
    }

    // Clicks the front panel and, once the setup dialog shows, runs `fn`, which must end it.
    void WithSetupDialog(const std::function<void(CSetupDlg&)>& fn) {
        bool bRan = false;
        QTimer poller;
        poller.setInterval(1);
        QObject::connect(&poller, &QTimer::timeout, [&] {
            auto* pSetup = qobject_cast<CSetupDlg*>(QApplication::activeModalWidget());
            if (pSetup == nullptr || !pSetup->isVisible() || pSetup->windowHandle() == nullptr ||
                !pSetup->windowHandle()->isExposed()) {
                return;
            }
            poller.stop();
            bRan = true;
            fn(*pSetup);
        });
        poller.start();
        m_nFrames = m_server.FramesReceived();
        m_nReplies = m_server.RepliesSent();
        m_pWindow->ClickPanel();
        poller.stop();
        m_pWindow->Settle(); // OK connects again on a thread of its own
        EXPECT_TRUE(bRan) << "a click on the front panel opened no setup dialog";
    }

    PtyPair m_pty;
    CSimBus m_bus{{CSimMeter(kMeter)}, {}, 1, [] { return 0ms; }};
    CSimServer m_server{m_bus};
    std::unique_ptr<CSer2net> m_pSer2net;
    std::unique_ptr<CWindowUnderTest> m_pWindow;
    uint64_t m_nFrames = 0;
    uint64_t m_nReplies = 0;
};

TEST_F(DeviceServerE2E, PollsSetsTheLineFromTheSetupDialogAndResumesAfterARestart) {
    OpenWindow();
    ASSERT_TRUE(Port().IsOpen()) << Port().FailureReason();
    PollUntilListed();
    EXPECT_STREQ(Session().DisplayText(), " 101.0");

    WithSetupDialog([&](CSetupDlg& dlg) {
        auto* pPorts = qobject_cast<QComboBox*>(FindDialogItem(&dlg, kIdcSetupPort));
        ASSERT_NE(pPorts, nullptr);
        EXPECT_EQ(pPorts->itemData(0, Qt::ToolTipRole).toString().toStdString(),
                  m_pSer2net->Url() +
                      " (QD7_COM1): a serial device server on the network\nAfter a drop it "
                      "connects to this address again, whatever answers there then");
        qobject_cast<QComboBox*>(FindDialogItem(&dlg, kIdcSetupSpeed))
            ->setCurrentIndex(kSpeedIndex19200);
        qobject_cast<QComboBox*>(FindDialogItem(&dlg, kIdcSetupStopBits))
            ->setCurrentIndex(kStopBitsIndexTwo);
        QTest::mouseClick(qobject_cast<QPushButton*>(FindDialogItem(&dlg, kIdOk)), Qt::LeftButton);
    });
    ASSERT_TRUE(Port().IsOpen()) << Port().FailureReason();
    // What the server did to its port, read from the port itself.
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 19200U);
    termios line{};
    ASSERT_EQ(tcgetattr(m_pty.SlaveFd(), &line), 0);
    EXPECT_NE(line.c_cflag & CSTOPB, 0U);
    PollUntilListed();

    // The server restarted: the port is lost quietly (no box), the first tick after the drop
    // tries at once and fails (refused), the next tries wait for the back-off. Once the server is
    // back the next attempt connects with the same line, and the meter on display is asked
    // first: the list stayed. The fixture fails the test on any box.
    m_pWindow->AdvanceClock(0); // the session's clock is the test's from here
    m_pSer2net->Stop();
    for (int i = 0; i < 3; ++i) {
        Poll();
        m_pWindow->Settle();
    }
    EXPECT_FALSE(Port().IsOpen());
    EXPECT_EQ(Session().State(), DeviceState::Lost);
    EXPECT_TRUE(Listed());
    ASSERT_TRUE(m_pSer2net->Start()) << m_pSer2net->Log();
    m_bus.ClearReceivedBodies();
    m_pWindow->AdvanceClock(CMeterSession::kFirstRetryMs);
    Session().OnPollTimer(0); // connects on a thread of its own
    m_pWindow->Settle();
    ASSERT_TRUE(Port().IsOpen()) << Port().FailureReason();
    Poll();
    EXPECT_EQ(m_bus.ReceivedBodies().front(), "01RX0P0+0000000");
    EXPECT_EQ(ProbeLineSpeed(m_pty.SlaveFd()).output, 19200U);
}

// A server that is not there: the box of a port that cannot be opened, with the reason.
TEST_F(DeviceServerE2E, ARefusedConnectionIsSaidInTheBoxDetails) {
    m_pSer2net->Stop();
    OpenWindow(true);
    EXPECT_FALSE(Port().IsOpen());
    const std::vector<CModalCatcher::Seen>& seen = m_pWindow->Boxes().m_vecSeen;
    ASSERT_EQ(seen.size(), 1U);
    EXPECT_EQ(seen[0].text.toStdString(), "COM1 can't open!");
    EXPECT_EQ(seen[0].detailedText.toStdString(),
              m_pSer2net->Url() + ": connection refused\n\nChoose OK in the setup dialog (click "
                                  "the front panel) to try again.");
}

} // namespace
