#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// What the meter session asks of the window that shows it. The session decides; the view draws,
// shows texts, reads its boxes and keeps the address list, and owns the clock of the UI thread.
// Everything is called on the UI thread. What the calls draw and show reaches the screen together,
// in one repaint: when the thread goes back to its loop, at ShowNow, or before a Sleep holds the
// thread. The session calls ShowNow before anything else holds it (a write).

// The two activity lamps of the front panel, and the colours the exchanges give them.
enum class Lamp { Send, Receive };
enum class LampColour { Green, DarkGreen, Yellow };

// The three boxes of the main window that the session reads when it needs them.
enum class Box { Bank1, Pnp, Autoscan };

class IMeterView {
public:
    virtual ~IMeterView() = default;

    // The front panel: the value and the unit at their places, one lamp in one colour.
    virtual void DrawValue(const char* pszText) = 0;
    virtual void DrawUnit(const char* pszText) = 0;
    virtual void DrawLamp(Lamp lamp, LampColour colour) = 0;
    // Everything drawn and shown since is on the screen when this returns.
    virtual void ShowNow() = 0;

    // The texts of the exchanges: the frame body of the last request (the text edit, which is
    // also the source of a typed frame), the end and CRC of the last frame sent, and the last
    // reply as a hex dump.
    virtual void ShowFrameBody(std::string_view body) = 0;
    virtual std::string FrameText() const = 0;
    virtual void ShowCrcText(std::string_view text) = 0;
    virtual void ShowResponse(std::string_view hexDump) = 0;

    virtual bool IsChecked(Box box) const = 0;

    // The address list: a sorted drop-down list of two-digit addresses whose selection is the
    // selected meter. Positions count from 0; -1 is "none".
    // The position of the first entry that begins with `text`, ignoring case.
    virtual int FindAddressEntry(std::string_view text) const = 0;
    // Inserts at the sorted place; the selection stays on the entry it was on.
    virtual void AddAddressEntry(std::string_view text) = 0;
    virtual void RemoveAddressEntry(int position) = 0;
    virtual int AddressEntryCount() const = 0;
    virtual int SelectedAddressEntry() const = 0;
    virtual void SelectAddressEntry(int position) = 0;
    // The list's current text: the selected entry, or empty.
    virtual std::string AddressListText() const = 0;

    // The port did not open: `message` ("COM1 can't open!") in a box, `reason` behind it. Returns
    // once the user closed the box; the poll timer goes on ticking meanwhile.
    virtual void ReportOpenFailure(const std::string& message, const std::string& reason) = 0;
    // Something the user should know that is no failure, as one line on stderr: no box.
    virtual void ReportNote(const std::string& note) = 0;

    // Time: the poll timer (700 ms; starting it again restarts its period; its ticks come back as
    // the session's OnPollTimer) and the sleep that holds the UI thread, with what was drawn on
    // the screen.
    virtual void StartPollTimer() = 0;
    virtual void StopPollTimer() = 0;
    virtual void Sleep(int ms) = 0;
    // A monotonic clock in milliseconds, for what the session does later on its own (the next
    // attempt to reach a device server that is away).
    virtual int64_t NowMs() const = 0;
    // Called on any thread, when work the session left to another thread has finished: brings
    // the session's OnWake to the UI thread soon, without waiting for it here. A tick would take
    // the result too; with Autoscan off none comes.
    virtual void WakeSession() = 0;
};

// A progress bar as the register read-out drives it: the range, then each position. A position
// past the range shows the bar full.
class IReadOutProgress {
public:
    virtual ~IReadOutProgress() = default;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetPosition(int position) = 0;
};
