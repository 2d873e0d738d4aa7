#pragma once

#include <QDialog>
#include <QIcon>
#include <functional>
#include <memory>

#include "ui/MainWindowLayout.h"
#include "ui/MainWindowView.h"
#include "ui/MeterSession.h"
#include "ui/SetupDlg.h"

class QMenu;

// The program's one main window, a view of the meter session: the front panel with the value of
// the selected meter, the list of meters found on the bus, the boxes that steer the poll cycle,
// the frame text for "Send". Its handlers call the session, which owns the port and the meter
// work and shows them through the window's controls (m_view). Everything runs on the UI thread.
//
// Start-up: the first show (exec() or show()) places the window on the pointer and runs
// OnInitDialog before the window appears; OnInitDialog starts the poll timer and then opens the
// port, so a port that does not open shows its box while the ticks already run. Teardown:
// DestroyWindow when the modal run ends (finished), or with the window object.
class CMeterTestDlg : public QDialog, public ISetupDlgHost {
    Q_OBJECT

public:
    // System-menu command of the about entry; commands are compared with their low four bits
    // cleared.
    static constexpr unsigned kAboutCommand = 0x0010;
    static constexpr unsigned kCloseCommand = 0xF060;

    explicit CMeterTestDlg(QWidget* parent = nullptr);
    // Tests hand in the operating-system calls of the port (a recording fake); null is the
    // operating system's, as for the port itself.
    explicit CMeterTestDlg(std::unique_ptr<ISerialOps> pOps, QWidget* parent = nullptr);
    ~CMeterTestDlg() override;

    bool OnInitDialog();
    bool DestroyWindow();
    void setVisible(bool visible) override;

    // Handlers: the Autoscan box, a click on the front panel (the setup dialog, and on OK its
    // settings and unit), a system-menu command.
    void ApplyAutoscanMode();
    void OpenSetupDialog();
    void OnSysCommand(unsigned id);

    // The meter work behind the window, and the view it shows itself through.
    CMeterSession& Session() { return m_session; }
    const CMeterSession& Session() const { return m_session; }
    IMeterView& View() { return m_view; }
    // Runs the about box modally; installed by the application, which owns that dialog.
    void SetAboutBox(std::function<void()> fnAboutBox) { m_fnAboutBox = std::move(fnAboutBox); }
    // Every wait of the session; a real sleep unless a test hands in another.
    void SetSleep(std::function<void(int ms)> fnSleep) { m_view.SetSleep(std::move(fnSleep)); }
    // The session's clock; the system's steady clock unless a test hands in another.
    void SetClock(std::function<int64_t()> fnNowMs) { m_view.SetClock(std::move(fnNowMs)); }

    // What the setup dialog asks of this window.
    void ReadAllRegisters(RegisterSnapshot* pSnapshot, QProgressBar* pProgress) override;
    void ShowProgressWhile(const std::function<void(QProgressBar*)>& fn) override;
    SetupPortInfo PortInfo() const override;

signals:
    // Emitted on whichever thread finished work of the session's; its queued connection brings
    // the session's OnWake to the UI thread.
    void sessionWoken();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void contextMenuEvent(QContextMenuEvent* pEvent) override;
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    void ConnectHandlers();
    void AppendAboutEntry();
    // The window system repainted the front panel: the value and the unit go on it again.
    void OnPaint();

    MainWindowControls m_controls;
    // Declared before the session: the renderers outlive every drawing the session asks for.
    CMainWindowView m_view;
    CMeterSession m_session;
    QIcon m_hIcon;
    QMenu* m_pSystemMenu = nullptr;
    std::function<void()> m_fnAboutBox;
};
