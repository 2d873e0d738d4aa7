#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortDevice.h"
#include "serial/SerialOps.h"
#include "tests/support/EnvGuard.h"
#include "tests/support/MainWindowDriver.h"
#include "tests/support/ModalCatcher.h"

// The main window under test, reached through the driver it is. Built on the given serial calls
// with QD7_COM1 set for its life, then started as the application starts it (shown, or only
// initialised). A message box fails the test at once, with its text, unless the test expects
// boxes: the catcher is running before start-up, so a box there ("COM1 can't open!" when another
// program holds the device) ends the test instead of hanging it. When the test drives the ticks,
// the poll timer runs so far out that no tick of its own comes, and every sleep of the session
// returns at once, recorded.
class CWindowUnderTest : public CMainWindowDriver {
public:
    enum class Start { None, Initialised, Shown };

    struct Options {
        std::optional<std::string> com1 = {};     // QD7_COM1 while the window lives; none: as it is
        std::unique_ptr<ISerialOps> pOps = {};    // the port's system calls; null: the real ones
        std::optional<PortDirectories> dirs = {}; // where COMn is looked up; none: the system's
        Start start = Start::Shown;               // Initialised: OnInitDialog alone, no screen
        bool bTestTicks = true;                   // every tick and every sleep comes from the test
        bool bExpectBoxes = false;                // boxes are accepted and recorded in Boxes()
    };

    explicit CWindowUnderTest(Options options);
    ~CWindowUnderTest();
    CWindowUnderTest(const CWindowUnderTest&) = delete;
    CWindowUnderTest& operator=(const CWindowUnderTest&) = delete;

    // The application's start-up, when the test starts the window itself: shown, then on screen,
    // and the port's open ended.
    void Show();
    // The window's teardown and destruction now, before the fixture goes.
    void Close();
    // Lets an open that runs on its own thread (a device server, a search for other holders of
    // the device) end and be taken in, as the window's loop would between two ticks; bounded, only
    // against a hang. Start-up ends with it, so that tests begin from an open or refused port.
    void Settle();
    // The session's clock (NowMs): a test's own, moved by AdvanceClock, from the first call on.
    void AdvanceClock(int64_t ms);

    CModalCatcher& Boxes() { return m_catcher; }
    // The session's sleeps in ms, with bTestTicks; `fn` runs in each, while the thread is held.
    const std::vector<int>& Sleeps() const { return m_vecSleeps; }
    void ClearSleeps() { m_vecSleeps.clear(); }
    void OnSleep(std::function<void(int ms)> fn) { m_fnOnSleep = std::move(fn); }

private:
    CEnvGuard m_env;
    CModalCatcher m_catcher;
    std::unique_ptr<CMeterTestDlg> m_pDlg;
    std::vector<int> m_vecSleeps;
    std::function<void(int ms)> m_fnOnSleep;
    std::optional<int64_t> m_nClockMs;
};
