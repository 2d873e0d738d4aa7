#pragma once

#include <QDialog>
#include <QIcon>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "render/DigitDisplay.h"
#include "render/LampDisplay.h"
#include "serial/SerialPort.h"
#include "ui/PollCycle.h"
#include "ui/PortSettings.h"
#include "ui/RegisterSnapshot.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;
class CPictureCtrl;

// The program's one main window: the front panel with the value of the selected meter, the list of
// meters found on the bus, the poll cycle and the frame text for "Send". Everything runs on the
// user-interface thread; members are public so that the setup dialog and the tests reach them by
// role.
class CMeterTestDlg : public QDialog {
    Q_OBJECT

public:
    // System-menu command of the about entry; commands are compared with their low four bits
    // cleared.
    static constexpr unsigned kAboutCommand = 0x0010;
    static constexpr unsigned kCloseCommand = 0xF060;
    static constexpr int kPollTimerId = 0;
    static constexpr int kPollPeriodMs = 700;

    explicit CMeterTestDlg(QWidget* parent = nullptr);
    // Tests hand in the operating-system calls of the port (a recording fake); null is the
    // operating system's, as for the port itself.
    explicit CMeterTestDlg(std::unique_ptr<ISerialOps> pOps, QWidget* parent = nullptr);
    ~CMeterTestDlg() override;

    // Start-up, line settings and teardown.
    bool OnInitDialog();
    void OpenPortFromSettings();
    // Opens the port with PortSettings, nothing more: no message, no reset of the poll cycle.
    PortHandle OpenSerialPort();
    // After the device vanished under the open port (an adapter unplugged): one quiet attempt to
    // open the same port with the same settings. When it opens, the poll cycle starts afresh as
    // after any reopen. True when the port was reopened.
    bool ReopenLostPort();
    bool ClosePort();
    void ApplyAutoscanMode();
    bool DestroyWindow();
    void OnSysCommand(unsigned id);
    int exec() override;

    // The exchange steps.
    bool SendRequest(int address, int commandIndex, int bankDigit, int registerIndex, double value);
    bool ReceiveResponse(RegisterSnapshot* pSnapshot);
    void SendText();

    // The poll cycle, its timer and the address list. What each tick does is m_pollCycle's to
    // decide; the window reads the boxes and the list for it and carries the decision out.
    void OnPollTimer(unsigned timerId);
    void StartPolling();
    void StopPolling();
    void UpdateAddressList(int address, bool found);
    int SelectedAddress() const;
    void DrawFrontPanel();
    // Painting: the window system repaints the front panel; the value and the unit go on it.
    void OnPaint();

    // The register read-out and the setup dialog.
    // All eleven registers of the selected meter into the snapshot (null: nothing happens), with
    // the progress on the given bar (or none).
    void ReadAllRegisters(RegisterSnapshot* pSnapshot, QProgressBar* pProgress);
    // A click on the front panel: the setup dialog, and on OK its settings and unit text.
    void OpenSetupDialog();
    // Runs `fn` with this window's progress bar, shown in place of the response edit (the bar
    // lies over it) and on screen before `fn` holds the thread; the response edit comes back
    // afterwards. The setup dialog's first read-out runs so, before that dialog shows.
    void ShowProgressWhile(const std::function<void(QProgressBar*)>& fn);

    // Members in the order of their construction; the renderers are destroyed before the port.
    CSerialPort m_serialPort;
    CDigitDisplay m_digitDisplay;
    CLampDisplay m_lampDisplay;
    std::array<char, 30> m_szDisplayText{}; // at most 29 characters and the terminator

    // The poll-cycle state; holds its reset values from construction on, so an early tick is
    // defined.
    CPollCycle m_pollCycle;

    std::string m_strUnit;
    PortSettings m_portSettings;

    // Controls by role, bound when the window is built.
    QProgressBar* m_pProgress = nullptr;
    QLabel* m_pCrcLabel = nullptr;
    CPictureCtrl* m_pPicture = nullptr;
    QLineEdit* m_pResponseEdit = nullptr;
    QLineEdit* m_pTextEdit = nullptr;
    QComboBox* m_pAddressList = nullptr;
    QCheckBox* m_pBank1 = nullptr;
    QCheckBox* m_pPnp = nullptr;
    QCheckBox* m_pAutoscan = nullptr;
    QIcon m_hIcon;

    QPushButton* m_pSendButton = nullptr;
    QTimer* m_pPollTimer = nullptr;
    // The period StartPolling gives the timer. Tests that drive every tick themselves set it far
    // out so that a slow machine cannot slip a real tick between their steps.
    int m_nPollPeriodMs = kPollPeriodMs;
    QMenu* m_pSystemMenu = nullptr;

    // Every wait of the window goes through here; it really sleeps (holding the thread) unless a
    // test replaces it.
    std::function<void(int ms)> m_fnSleep;
    // Runs the about box modally; installed by the application, which owns that dialog.
    std::function<void()> m_fnAboutBox;

    bool m_bInitialised = false;
    bool m_bDestroyed = false;

public:
    void setVisible(bool visible) override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void CreateControls();
    void ConnectHandlers();
    void AppendAboutEntry();
};
