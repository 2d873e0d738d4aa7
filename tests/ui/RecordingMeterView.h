#pragma once

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/serial/RecordingSerialOps.h"
#include "ui/MeterView.h"

// The main window as a meter session sees it, with no window: what it was last told to show, the
// calls in order, its three boxes (set by the test), an address list that keeps its entries sorted
// and finds them by prefix as the real drop-down list does, the poll timer's state and the sleeps.
// Given the fake serial line, each call also goes into the line's events at the line's time, so
// that the view's calls and the port's calls read as one sequence ("lamp send green", "rts on",
// "write 35", ...).
class CRecordingMeterView final : public IMeterView {
public:
    explicit CRecordingMeterView(FakeLine* pLine = nullptr) : m_pLine(pLine) {}

    // What shows now.
    std::string value;
    std::string unit;
    std::array<std::optional<LampColour>, 2> lamps; // Lamp::Send, Lamp::Receive; none: as printed
    std::string textEdit;
    std::string crc = "ETX,CRC";
    std::string response;
    std::array<bool, 3> checked = {false, false, false}; // Box::Bank1, Box::Pnp, Box::Autoscan
    std::vector<std::string> entries;
    int selection = -1;
    bool bTimerRunning = false;
    int nTimerStarts = 0;
    std::vector<std::pair<std::string, std::string>> boxes; // message, reason
    std::vector<std::string> notes;
    std::vector<int> sleeps;
    int64_t nNowMs = 0; // the clock; the test moves it
    // Runs inside each sleep, while the session holds the thread.
    std::function<void(int ms)> fnDuringSleep;
    std::vector<std::string> calls;

    std::optional<LampColour> LampOf(Lamp lamp) const { return lamps[static_cast<size_t>(lamp)]; }
    void Check(Box box, bool bChecked) { checked[static_cast<size_t>(box)] = bChecked; }

    void DrawValue(const char* pszText) override {
        value = pszText;
        Call("value " + value);
    }
    void DrawUnit(const char* pszText) override {
        unit = pszText;
        Call("unit " + unit);
    }
    void DrawLamp(Lamp lamp, LampColour colour) override {
        lamps[static_cast<size_t>(lamp)] = colour;
        static constexpr std::array<const char*, 3> kColours = {"green", "darkgreen", "yellow"};
        Call(std::string("lamp ") + (lamp == Lamp::Send ? "send " : "receive ") +
             kColours[static_cast<size_t>(colour)]);
    }
    void ShowNow() override { Call("show"); }
    void ShowFrameBody(std::string_view body) override {
        textEdit = body;
        Call("body " + textEdit);
    }
    std::string FrameText() const override { return textEdit; }
    void ShowCrcText(std::string_view text) override {
        crc = text;
        Call("crc " + crc);
    }
    void ShowResponse(std::string_view hexDump) override {
        response = hexDump;
        Call("response " + response);
    }
    bool IsChecked(Box box) const override { return checked[static_cast<size_t>(box)]; }

    int FindAddressEntry(std::string_view text) const override {
        for (size_t i = 0; i < entries.size(); ++i) {
            if (std::string_view(entries[i]).substr(0, text.size()) == text) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }
    void AddAddressEntry(std::string_view text) override {
        const auto at = std::upper_bound(entries.begin(), entries.end(), std::string(text));
        const int position = static_cast<int>(at - entries.begin());
        entries.insert(at, std::string(text));
        if (selection >= position) {
            ++selection; // the selection stays on its entry
        }
        Call("list add " + std::string(text));
    }
    void RemoveAddressEntry(int position) override {
        entries.erase(entries.begin() + position);
        if (selection == position) {
            selection = -1;
        } else if (selection > position) {
            --selection;
        }
        Call("list remove " + std::to_string(position));
    }
    int AddressEntryCount() const override { return static_cast<int>(entries.size()); }
    int SelectedAddressEntry() const override { return selection; }
    void SelectAddressEntry(int position) override {
        selection = position >= 0 && position < AddressEntryCount() ? position : -1;
        Call("list select " + std::to_string(selection));
    }
    std::string AddressListText() const override {
        return selection >= 0 ? entries[static_cast<size_t>(selection)] : std::string();
    }

    void ReportOpenFailure(const std::string& message, const std::string& reason) override {
        boxes.emplace_back(message, reason);
        Call("box " + message);
    }
    void ReportNote(const std::string& note) override {
        notes.push_back(note);
        Call("note " + note);
    }
    void StartPollTimer() override {
        bTimerRunning = true;
        ++nTimerStarts;
        Call("timer start");
    }
    void StopPollTimer() override {
        bTimerRunning = false;
        Call("timer stop");
    }
    void Sleep(int ms) override {
        sleeps.push_back(ms);
        Call("sleep " + std::to_string(ms));
        if (fnDuringSleep) {
            fnDuringSleep(ms);
        }
    }
    int64_t NowMs() const override { return nNowMs; }
    // From another thread: counted, and a test waiting for it is woken. The session's OnWake is
    // the test's to call.
    void WakeSession() override {
        const std::lock_guard lock(m_wakeMutex);
        ++m_nWakes;
        m_wakeDone.notify_all();
    }
    // Waits (bounded, only against a hang) until WakeSession came more than `seen` times.
    bool WaitForWake(int seen, std::chrono::seconds bound = std::chrono::seconds(10)) {
        std::unique_lock lock(m_wakeMutex);
        return m_wakeDone.wait_for(lock, bound, [&] { return m_nWakes > seen; });
    }
    int Wakes() {
        const std::lock_guard lock(m_wakeMutex);
        return m_nWakes;
    }

private:
    void Call(const std::string& call) {
        calls.push_back(call);
        if (m_pLine != nullptr) {
            m_pLine->events.push_back(call);
            m_pLine->eventTimesUs.push_back(m_pLine->nNowUs);
        }
    }

    FakeLine* m_pLine;
    std::mutex m_wakeMutex;
    std::condition_variable m_wakeDone;
    int m_nWakes = 0;
};
