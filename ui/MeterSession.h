#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "serial/SerialPort.h"
#include "ui/MeterView.h"
#include "ui/PollCycle.h"
#include "ui/PortSettings.h"
#include "ui/RegisterSnapshot.h"

// Where the meter work stands, as the window sees it: one value, so that "started", "torn down"
// and the port's open and lost can never disagree.
enum class DeviceState {
    NotStarted, // constructed: start-up has not opened the port from the settings yet
    Opening,    // being opened from the settings on a thread of its own; a tick takes the result
    Open,       // the port is open
    Closed,     // the port is not open: its open failed, or it was closed for new settings
    Lost,       // its device went away under it; the ticks (and "Send") open it again once back
    Ended,      // torn down: the port is closed for good
};

class CWakeLine;

// The meter work of the main window, without a widget: the serial port and its line settings,
// the poll cycle with its timer and the address list's rules, the exchange steps, the register
// read-out, the reopening of a port whose device came back, the display text and the unit. It
// shows everything through the view it is given and reads the boxes and the list from it; the
// view's timer brings the ticks back to OnPollTimer. Everything runs on the UI thread, but for
// what would hold it where nothing asks for a wait: connecting to a device server, the search for
// another holder of the device. Those run on a thread of their own, and a later tick (or OnWake)
// takes their result.
class CMeterSession {
public:
    static constexpr unsigned kPollTimerId = 0;
    // A device server that is away is tried again after 1 s, then after twice as long each time,
    // up to this.
    static constexpr int kFirstRetryMs = 1000;
    static constexpr int kLongestRetryMs = 30'000;

    // `pOps`: the operating system's serial calls (null: the real ones); tests hand in a fake.
    explicit CMeterSession(IMeterView& view, std::unique_ptr<ISerialOps> pOps = nullptr);
    ~CMeterSession();
    CMeterSession(const CMeterSession&) = delete;
    CMeterSession& operator=(const CMeterSession&) = delete;

    DeviceState State() const;

    // The port: opened from the settings (the box "COM%d can't open!" when it fails), the poll
    // cycle reset either way; closed with the poll timer stopped first. Where the open would wait
    // it runs on its own thread, and the box and the reset come when a later tick takes its end.
    void OpenPortFromSettings();
    bool ClosePort();
    // Teardown: the port closed for good.
    void End();
    // New line settings from the setup dialog: the port closed and opened again with them, and
    // polling restarted when Autoscan is on.
    void ApplyLineSettings(const PortSettings& settings);
    // OK in the setup dialog with the settings unchanged: a port that is not open is opened (one
    // that did not open, from the settings again; a lost one, its own device, at once).
    void OpenIfNotOpen();
    // The view's call after WakeSession: takes in what another thread finished.
    void OnWake();
    const PortSettings& Settings() const { return m_portSettings; }
    CSerialPort& SerialPort() { return m_serialPort; }
    const CSerialPort& SerialPort() const { return m_serialPort; }

    // The poll cycle and its timer. Each tick of the timer is OnPollTimer(kPollTimerId); it sends
    // a request for a meter's process value or reads the reply to the one before, and redraws.
    void OnPollTimer(unsigned timerId);
    void StartPolling();
    void StopPolling();
    // The cycle's state, for tests that start it from anywhere.
    PollCycleState PollState() const { return m_pollCycle.State(); }
    void SetPollState(const PollCycleState& state) { m_pollCycle = CPollCycle(state); }

    // The address list as the replies keep it: `found`, the address answered correctly; not
    // found, the reply to a request for it was missing or corrupt.
    void UpdateAddressList(int address, bool found);
    // The selected meter: the list's text as a number; 0 when nothing is selected.
    int SelectedAddress() const;

    // The exchange steps. None of them waits for a reply except SendText, the "Send" button's.
    bool SendRequest(int address, int commandIndex, int bankDigit, int registerIndex, double value);
    bool ReceiveResponse(RegisterSnapshot* pSnapshot);
    void SendText();

    // All eleven registers of the selected meter into the snapshot (null: nothing happens), the
    // progress on `pProgress` (or none). Holds the thread for its whole run, polling suspended.
    void ReadAllRegisters(RegisterSnapshot* pSnapshot, IReadOutProgress* pProgress);

    // The front panel: the display text and the unit, drawn by every tick and every repaint.
    void DrawFrontPanel();
    const char* DisplayText() const { return m_szDisplayText.data(); }
    const std::string& Unit() const { return m_strUnit; }
    void SetUnit(std::string unit) { m_strUnit = std::move(unit); }

private:
    enum class Stage { NotStarted, Running, Ended };

    // The result of an open that ran on its own thread, taken in when it has ended.
    void TakeOpened();
    // The open from the settings has ended: the box when it failed, the poll cycle reset.
    void FinishOpen();
    // After the device vanished under the open port (an adapter unplugged): a quiet attempt to
    // open the same device with the same settings, at the tick after the loss and then at every
    // tick, or for a device server after the back-off.
    void RetryLostPort();
    void FinishReopen();
    // After each use of the port: the device went away under it just now. The loss is the
    // device's, not the polled meter's: the cycle's state is kept for the device's return.
    void NoticeLoss();
    // The port waits for its device (being opened, or lost): what a read finds missing is not the
    // meter's failure.
    bool DeviceAway() const;
    // A line on stderr, once per run for each text.
    void NoteOnce(const std::string& note);
    std::function<void()> WakeWhenDone() const;

    IMeterView& m_view;
    std::shared_ptr<CWakeLine> m_pWake;
    CSerialPort m_serialPort;
    std::array<char, 30> m_szDisplayText{}; // at most 29 characters and the terminator
    // Holds its reset values from construction on, so a tick before the first open is defined.
    CPollCycle m_pollCycle;
    std::string m_strUnit = "Sec";
    PortSettings m_portSettings; // COM1, 9600 baud, 8 data bits, no parity, one stop bit
    Stage m_stage = Stage::NotStarted;
    // The device went away: the cycle as it stood then, back at its return.
    std::optional<PollCycleState> m_lostCycle;
    bool m_bReopening = false; // the open that runs is a lost port's
    int64_t m_nRetryAtMs = 0;  // a lost device server's next attempt
    int m_nRetryDelayMs = kFirstRetryMs;
    std::vector<std::string> m_vecNoted;
};
