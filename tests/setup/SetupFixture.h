#pragma once

#include <gtest/gtest.h>

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/SimBus.h"
#include "sim/SimServer.h"
#include "tests/setup/SimReadOut.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WindowUnderTest.h"
#include "ui/MeterTestDlg.h"

class CSetupDlg;
class QProgressBar;

// The main window on COM1 = a pty whose far side is served by simulated meters 07 and 12, their
// process values held still, shown as the application shows it. Every tick comes from the test.
// The window's sleeps do not sleep: a 700 ms pause returns as soon as the simulator has heard the
// request and, when a reply is expected, its reply lies waiting on the port.
class SetupFixture : public ::testing::Test {
public:
    static constexpr int kMeterA = 7;
    static constexpr int kMeterB = 12;

protected:
    SetupFixture();
    void SetUp() override;
    void TearDown() override;

    CWindowUnderTest& Window() { return *m_pWindow; }
    CMeterSession& Session() { return m_pWindow->Session(); }

    // Clicks the front panel and, once the setup dialog shows, runs `fn`, which must end it.
    void WithSetupDialog(const std::function<void(CSetupDlg&)>& fn);

    // The line speed the pty reports, and one set behind the program's back to see whether the
    // port is reopened.
    unsigned LineSpeed() const;
    void SetLineSpeedMarker();
    static constexpr unsigned kMarkerSpeed = 4800;

    std::vector<std::string> RequestBodies() const { return m_server.ReceivedBodies(); }

    PtyPair m_pty;
    CSimBus m_bus;
    CSimServer m_server;
    std::unique_ptr<CWindowUnderTest> m_pWindow;

    bool m_bExpectReplies = true;
    std::function<void(int ms)> m_fnOnSleep; // extra checks while the thread is held

private:
    void Sleep(int ms);

    uint64_t m_nFramesSeen = 0;
    uint64_t m_nRepliesSeen = 0;
};

// Records the position of a progress bar each time it is painted.
class CPaintRecorder : public QObject {
public:
    explicit CPaintRecorder(QProgressBar* pBar);
    std::vector<int> m_vecPainted;
    // The positions painted, a repeated paint of the same position counted once.
    std::vector<int> Distinct() const;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QProgressBar* m_pBar;
};
