// An adapter unplugged and plugged in again, end to end: COM1 is the first port present, a USB
// adapter known by its stable by-id name, here a link to a pty served by the simulated bus. The
// pty goes away mid-poll and a new one (another device number) appears under the same name;
// polling must come back by itself, with the same line settings, the same meter and no dialog,
// on that adapter and never on another one that has taken COM1's number meanwhile.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

#include "protocol/FrameCodec.h"
#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyMeter.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "ui/DialogLayout.h"
#include "ui/MeterTestDlg.h"
#include "ui/SetupDlg.h"
#include "ui/SetupDlgLayout.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

constexpr const char* kAdapterName = "usb-QD7_RS485_Adapter-if00-port0";
constexpr const char* kOtherAdapterName = "usb-QD7_Spare_Adapter-if00-port0"; // sorts after
constexpr int kMeter = 3;
constexpr int kSpeedIndex115200 = 12;

// One plugged-in adapter: a pty with the bus answering on its far side.
struct Adapter {
    explicit Adapter(CSimBus& bus) : server(bus) {}
    PtyPair pty;
    CSimServer server;
};

class ReconnectE2E : public ::testing::Test {
protected:
    void SetUp() override {
        std::string root = ::testing::TempDir() + "qd7-reconnect-XXXXXX";
        ASSERT_NE(mkdtemp(root.data()), nullptr);
        m_root = root;
        fs::create_directories(m_root / "by-id");
        m_env.Unset("QD7_COM1");
        m_pBus = MakeBus();
        m_pOtherBus = MakeBus();
    }
    // The same meter behind each adapter, on a bus of its own so that each counts its frames.
    static std::unique_ptr<CSimBus> MakeBus() {
        std::vector<CSimMeter> meters;
        meters.emplace_back(kMeter);
        return std::make_unique<CSimBus>(std::move(meters), SimFaults{}, 1, [] { return 0ms; });
    }
    void TearDown() override {
        m_pWindow.reset();
        m_vecAdapters.clear();
        std::error_code ec;
        fs::remove_all(m_root, ec);
    }

    // A new adapter under its stable name; the link is replaced in one step, as udev does.
    Adapter& Plug(const char* name = kAdapterName) {
        CSimBus& bus = name == kAdapterName ? *m_pBus : *m_pOtherBus;
        m_vecAdapters.push_back(std::make_unique<Adapter>(bus));
        Adapter& adapter = *m_vecAdapters.back();
        EXPECT_TRUE(adapter.pty.IsOpen());
        EXPECT_TRUE(adapter.server.ServeFd(adapter.pty.MasterFd()));
        EXPECT_TRUE(adapter.server.Start());
        const fs::path fresh = m_root / "by-id" / ".new-link";
        fs::create_symlink(adapter.pty.SlavePath(), fresh);
        fs::rename(fresh, LinkOf(name));
        return adapter;
    }
    // The adapter gone: the open port sees a hang-up and udev removes its link.
    void Unplug(Adapter& adapter, const char* name = kAdapterName) {
        adapter.server.Stop();
        adapter.pty.CloseMaster();
        fs::remove(LinkOf(name));
    }
    fs::path LinkOf(const char* name) const { return m_root / "by-id" / name; }

    // The test drives the ticks; `bExpectBoxes`: the start-up's box is part of the test.
    void OpenWindow(bool bExpectBoxes = false) {
        m_pWindow = std::make_unique<CWindowUnderTest>(CWindowUnderTest::Options{
            .pOps = std::make_unique<CForwardingSerialOps>(m_record),
            .dirs = PortDirectories{(m_root / "class").string(), (m_root / "dev").string(),
                                    (m_root / "by-id").string(), (m_root / "by-path").string()},
            .start = CWindowUnderTest::Start::Initialised,
            .bExpectBoxes = bExpectBoxes});
    }
    CMeterSession& Session() { return m_pWindow->Session(); }
    const CSerialPort& Port() { return Session().SerialPort(); }

    // A send tick, the bus's answer when the polled meter is there, the reply tick.
    void Poll(Adapter& adapter) {
        const uint64_t frames = adapter.server.FramesReceived();
        const uint64_t replies = adapter.server.RepliesSent();
        Session().OnPollTimer(0);
        ASSERT_TRUE(Session().PollState().bAwaitingResponse);
        if (Port().IsOpen()) {
            EXPECT_TRUE(adapter.server.WaitForFrames(frames + 1, 2s));
            if (Session().PollState().currentAddress == kMeter) {
                EXPECT_TRUE(adapter.server.WaitForReplies(replies + 1, 2s));
                EXPECT_TRUE(WaitInput(adapter.pty, kMinResponseLength));
            }
        }
        Session().OnPollTimer(0);
    }
    bool Listed() const { return m_pWindow->AddressList()->findText(QStringLiteral("03")) >= 0; }
    void PollUntilListed(Adapter& adapter) {
        for (int i = 0; i < 10 && !Listed(); ++i) {
            Poll(adapter);
        }
        ASSERT_TRUE(Listed());
    }

    CEnvGuard m_env;
    fs::path m_root;
    std::unique_ptr<CSimBus> m_pBus;
    std::unique_ptr<CSimBus> m_pOtherBus;
    std::vector<std::unique_ptr<Adapter>> m_vecAdapters;
    CForwardingSerialOps::Record m_record;
    std::unique_ptr<CWindowUnderTest> m_pWindow;
};

TEST_F(ReconnectE2E, PollingResumesByItselfWhenTheAdapterComesBackUnderItsName) {
    Adapter& first = Plug();
    OpenWindow();
    ASSERT_TRUE(Port().IsOpen());
    // Settings other than the defaults, which must come back with the adapter.
    PortSettings settings = Session().Settings();
    settings.speedIndex = kSpeedIndex115200;
    settings.parityIndex = 2;
    Session().ApplyLineSettings(settings);
    m_pWindow->Settle();
    ASSERT_TRUE(Port().IsOpen()) << Port().FailureReason();
    PollUntilListed(first);
    const int scanCursor = Session().PollState().scanCursor;

    // Gone between a request and its reply.
    const uint64_t frames = first.server.FramesReceived();
    Session().OnPollTimer(0);
    ASSERT_TRUE(Session().PollState().bAwaitingResponse);
    ASSERT_TRUE(first.server.WaitForFrames(frames + 1, 2s));
    Unplug(first);
    Session().OnPollTimer(0);
    EXPECT_FALSE(Port().IsOpen());
    EXPECT_TRUE(Port().IsLost());

    // While it is away a tick tries at most once (here the name is gone, so no device is even
    // opened), quietly, and the window goes on. The loss was the adapter's, not the meter's: the
    // meter stays listed and selected.
    for (int i = 0; i < 6; ++i) {
        const int opens = m_record.nOpens;
        Session().OnPollTimer(0);
        m_pWindow->Settle();
        EXPECT_LE(m_record.nOpens, opens + 1);
        EXPECT_FALSE(Port().IsOpen());
    }
    EXPECT_EQ(m_pWindow->Entries(), std::vector<std::string>{"03"});
    EXPECT_EQ(m_pWindow->Selected(), QStringLiteral("03"));

    // Back, at another device number: it is opened with the same settings (after the look for
    // other holders, on a thread of its own; the window's loop takes the result between ticks),
    // and within two ticks of its return the meter on display is asked again, before any probe.
    Adapter& second = Plug();
    ASSERT_NE(second.pty.SlavePath(), first.pty.SlavePath());
    const size_t configured = m_record.configured.size();
    // The adapters share the bus, which counts the frames.
    const uint64_t heard = second.server.FramesReceived();
    const uint64_t answered = second.server.RepliesSent();
    m_pBus->ClearReceivedBodies();
    int ticks = 0;
    while (second.server.FramesReceived() == heard && ticks < 4) {
        Session().OnPollTimer(0);
        ++ticks;
        m_pWindow->Settle();
        if (Port().IsOpen() && Session().PollState().bAwaitingResponse) {
            EXPECT_TRUE(second.server.WaitForFrames(heard + 1, 2s));
        }
    }
    EXPECT_LE(ticks, 2);
    ASSERT_TRUE(Port().IsOpen());
    EXPECT_FALSE(Port().IsLost());
    ASSERT_EQ(m_record.configured.size(), configured + 1);
    const LineSettings& line = m_record.configured.back();
    EXPECT_EQ(line.speed, 115200);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, 2);
    EXPECT_EQ(line.stopBits, 0);
    ASSERT_FALSE(second.server.ReceivedBodies().empty());
    EXPECT_EQ(second.server.ReceivedBodies().front(), "03RX0P0+0000000");
    EXPECT_EQ(Session().PollState().scanCursor, scanCursor); // the scan goes on where it was
    // Its reply comes to the reply tick, and the value goes on the panel.
    ASSERT_TRUE(second.server.WaitForReplies(answered + 1, 2s));
    ASSERT_TRUE(WaitInput(second.pty, kMinResponseLength));
    Session().OnPollTimer(0);
    EXPECT_EQ(m_pWindow->Entries(), std::vector<std::string>{"03"});
}

// With Autoscan off no tick comes: "Send" finds the adapter back by itself, whether the loss was
// noticed by an earlier Send or only by this one. The open waits for the look for other holders,
// on a thread of its own: the Send that finds it back begins the open, the next one's frame goes
// out.
TEST_F(ReconnectE2E, SendReopensTheLostPortWhilePollingIsOff) {
    for (const bool bSendWhileAway : {true, false}) {
        SCOPED_TRACE(bSendWhileAway ? "a Send while it was away" : "first Send after the replug");
        Adapter& first = Plug();
        OpenWindow();
        m_pWindow->Autoscan()->setChecked(false);
        m_pWindow->Window().ApplyAutoscanMode();
        m_pWindow->TextEdit()->setText(QStringLiteral("03RX0P0+0000000"));
        Unplug(first);
        if (bSendWhileAway) {
            Session().SendText();
            EXPECT_TRUE(Port().IsLost());
        }

        Adapter& second = Plug();
        const uint64_t heard = second.server.FramesReceived(); // of the bus they share
        Session().SendText();
        m_pWindow->Settle();
        EXPECT_TRUE(Port().IsOpen());
        EXPECT_EQ(second.server.FramesReceived(), heard);
        Session().SendText();
        ASSERT_TRUE(second.server.WaitForFrames(heard + 1, 2s));
        EXPECT_EQ(second.server.ReceivedBodies().back(), "03RX0P0+0000000");
        m_pWindow.reset();
        m_vecAdapters.clear();
    }
}

// Two adapters: COM1 is the first by its sorted by-id name, COM2 the other. When the first goes,
// COM1 names the other one; the window waits for its own adapter, says so in the setup dialog's
// port list, never opens or polls the other, and goes on with the first when it is back.
TEST_F(ReconnectE2E, ALostPortWaitsForItsOwnAdapterNotTheOneNowNamedByItsNumber) {
    Adapter& first = Plug();
    Adapter& other = Plug(kOtherAdapterName);
    OpenWindow();
    ASSERT_TRUE(Port().IsOpen());
    PollUntilListed(first);

    Unplug(first);
    for (int i = 0; i < 2 && !Port().IsLost(); ++i) {
        Session().OnPollTimer(0);
    }
    ASSERT_TRUE(Port().IsLost());
    const PortDirectories& dirs = Port().Directories();
    ASSERT_EQ(LocatePort(1, dirs).device.byIdName, kOtherAdapterName);
    for (int i = 0; i < 6; ++i) {
        Session().OnPollTimer(0);
        EXPECT_FALSE(Port().IsOpen());
    }

    CSetupDlg setup;
    setup.m_pMainWnd = &m_pWindow->Window();
    setup.OnInitDialog();
    const auto* pPorts = qobject_cast<const QComboBox*>(FindDialogItem(&setup, kIdcSetupPort));
    ASSERT_NE(pPorts, nullptr);
    const QString tip = pPorts->itemData(0, Qt::ToolTipRole).toString();
    EXPECT_TRUE(tip.startsWith(QStringLiteral("Unplugged: waits for %1 to come back")
                                   .arg(QString::fromStdString(LinkOf(kAdapterName).string()))))
        << tip.toStdString();
    EXPECT_TRUE(tip.contains(QString::fromLatin1(kOtherAdapterName))) << tip.toStdString();

    Adapter& back = Plug();
    m_pBus->ClearReceivedBodies();
    for (int i = 0; i < 2 && !Port().IsOpen(); ++i) {
        Session().OnPollTimer(0);
        m_pWindow->Settle();
    }
    ASSERT_TRUE(Port().IsOpen());
    Poll(back);
    EXPECT_EQ(back.server.ReceivedBodies().front(), "03RX0P0+0000000");
    EXPECT_EQ(other.server.FramesReceived(), 0U);
    for (const std::string& path : m_record.openedPaths) {
        EXPECT_EQ(path, LinkOf(kAdapterName).string());
    }
}

// A port that never opened is the user's to fix: the box said why, and no tick tries it again.
TEST_F(ReconnectE2E, APortThatDidNotOpenIsNotTriedByTheTicks) {
    OpenWindow(true);
    ASSERT_EQ(m_pWindow->Boxes().m_vecSeen.size(), 1U);
    EXPECT_EQ(Session().State(), DeviceState::Closed);
    const int opens = m_record.nOpens;
    Plug();
    Session().OnPollTimer(0);
    Session().OnPollTimer(0);
    EXPECT_EQ(m_record.nOpens, opens);
    EXPECT_FALSE(Port().IsOpen());
}

} // namespace
