#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include <QFont>

#include "render/DigitDisplay.h"
#include "render/LampDisplay.h"
#include "ui/MainWindowLayout.h"
#include "ui/MeterView.h"

class QTimer;
class QWidget;

// The main window as the meter session sees it: the front panel's renderers on the picture, the
// texts, boxes and address list of its controls, the error box, the poll timer and the sleep.
class CMainWindowView final : public IMeterView {
public:
    static constexpr int kPollPeriodMs = 700;

    // `pWindow` owns the controls and becomes the parent of the poll timer and of the error box.
    CMainWindowView(QWidget* pWindow, const MainWindowControls& controls);
    ~CMainWindowView() override;
    CMainWindowView(const CMainWindowView&) = delete;
    CMainWindowView& operator=(const CMainWindowView&) = delete;

    // The renderers on the picture, from start-up to teardown; drawing before or after does
    // nothing.
    void AttachPanel();
    void DetachPanel();
    // The picture has put its printed panel back: whatever was drawn on it is gone.
    void ForgetPanel();

    // The poll timer: 700 ms, precise (a coarse timer can be 5 % off), ticking inside nested
    // modal loops too. Its owner connects the ticks to the session.
    QTimer* PollTimer() const { return m_pPollTimer; }
    // Every wait of the session goes through here: it really sleeps, holding the thread, unless
    // a test hands in another.
    void SetSleep(std::function<void(int ms)> fnSleep) { m_fnSleep = std::move(fnSleep); }
    // The clock of NowMs: the system's steady clock unless a test hands in another.
    void SetClock(std::function<int64_t()> fnNowMs) { m_fnNowMs = std::move(fnNowMs); }
    // What WakeSession calls, on the thread that wakes the session: it must bring the session's
    // OnWake to the UI thread without waiting (a queued signal). Set once, before the session
    // starts any work.
    void SetWakeHandler(std::function<void()> fnWake) { m_fnWake = std::move(fnWake); }

    void DrawValue(const char* pszText) override;
    void DrawUnit(const char* pszText) override;
    void DrawLamp(Lamp lamp, LampColour colour) override;
    void ShowNow() override;
    void ShowFrameBody(std::string_view body) override;
    std::string FrameText() const override;
    void ShowCrcText(std::string_view text) override;
    void ShowResponse(std::string_view hexDump) override;
    bool IsChecked(Box box) const override;
    int FindAddressEntry(std::string_view text) const override;
    void AddAddressEntry(std::string_view text) override;
    void RemoveAddressEntry(int position) override;
    int AddressEntryCount() const override;
    int SelectedAddressEntry() const override;
    void SelectAddressEntry(int position) override;
    std::string AddressListText() const override;
    void ReportOpenFailure(const std::string& message, const std::string& reason) override;
    void ReportNote(const std::string& note) override;
    void StartPollTimer() override;
    void StopPollTimer() override;
    void Sleep(int ms) override;
    int64_t NowMs() const override;
    void WakeSession() override;

private:
    // What the picture and the texts show. Every tick draws the value, the unit and the lamps
    // again, and every repaint is a round of painting and a transfer to the X server; a drawing
    // of what is already there changes no pixel, and is left out.
    struct Shown {
        std::optional<std::string> value;
        std::optional<std::string> unit;
        QFont unitFont;
        std::array<std::optional<LampColour>, 2> lamps;
    };

    QWidget* m_pWindow;
    MainWindowControls m_controls;
    Shown m_shown;
    CDigitDisplay m_digitDisplay;
    CLampDisplay m_lampDisplay;
    QTimer* m_pPollTimer;
    std::function<void(int ms)> m_fnSleep;
    std::function<int64_t()> m_fnNowMs;
    std::function<void()> m_fnWake;
};
