#pragma once

#include <QDialog>
#include <cstdint>
#include <functional>
#include <string>

#include "serial/PortDevice.h"
#include "ui/PortSettings.h"
#include "ui/RegisterSnapshot.h"

class QProgressBar;

// The port as the window that opens the setup dialog holds it, for the port list's tooltips.
struct SetupPortInfo {
    PortDirectories dirs;      // where COMn is looked up
    int nPort = 0;             // the port of the window's settings
    bool bLost = false;        // its device went away and is waited for
    std::string strWaitingFor; // the device it waits for
    // The name it is opened again by after a loss, when that name may lead to another device by
    // then; empty when it has a stable one.
    std::string strUnstableName;
};

// What the setup dialog asks of the window that opens it. Declared here and implemented by that
// window, so that the dialog knows nothing else of it.
class ISetupDlgHost {
public:
    virtual ~ISetupDlgHost() = default;
    // All eleven registers of the selected meter into the snapshot, the progress on `pProgress`
    // (or none).
    virtual void ReadAllRegisters(RegisterSnapshot* pSnapshot, QProgressBar* pProgress) = 0;
    // Runs `fn` with the window's own progress bar, shown in place of its reply dump and on
    // screen before `fn` holds the thread; the dump comes back afterwards.
    virtual void ShowProgressWhile(const std::function<void(QProgressBar*)>& fn) = 0;
    virtual SetupPortInfo PortInfo() const = 0;
};

// The setup dialog: shows the eleven registers of the selected meter, read afresh when it opens and
// on every "Reload", and edits the line settings and the unit text. It works on copies: the opener
// fills the members before the modal run and takes them back only after OK. Nothing here writes to
// a meter.
class CSetupDlg : public QDialog {
    Q_OBJECT

public:
    CSetupDlg();
    ~CSetupDlg() override;

    // Fills the lists, moves the members to the controls and runs the first read-out on the main
    // window's progress bar, all before the dialog is first shown.
    bool OnInitDialog();
    // Members to the controls, or (fromControls) back from them; one table, one order.
    void DoDataExchange(bool fromControls);
    // A full read-out into the value texts, then every member to the controls. Without a progress
    // bar nothing happens.
    void LoadRegisters(QProgressBar* pProgress);
    void OnReload();

    // The five list positions as one value: the opener's settings in, the user's out after OK
    // (-1 where a list was left without a selection).
    void SetPortSettings(const PortSettings& settings);
    PortSettings ChosenPortSettings() const;

    // OK: the members are taken from the controls, then the run ends with Accepted.
    void accept() override;
    void setVisible(bool visible) override;

    ISetupDlgHost* m_pMainWnd = nullptr;
    QProgressBar* m_pProgress = nullptr; // bound to control 1031 by the first exchange

    // Positions in the lists; -1 is no selection.
    int32_t m_nSpeedIndex = -1;
    int32_t m_nDataBitsIndex = -1;
    int32_t m_nParityIndex = -1;
    int32_t m_nPortIndex = -1;
    int32_t m_nStopBitsIndex = -1;

    std::string m_strUnit;
    std::string m_strAddress;
    std::string m_strC0;
    std::string m_strC1;
    std::string m_strC2;
    std::string m_strC3;
    std::string m_strK0;
    std::string m_strK1;
    std::string m_strP0;
    std::string m_strX0;
    std::string m_strX1;
    std::string m_strY0;
    std::string m_strY1;
    std::string m_strBank;

private:
    void CreateControls();
    void ConnectHandlers();
    void FillDropLists();
    // Each "COMn" item of the port list tells, as its tooltip, which device it opens.
    void SetPortToolTips();

    bool m_bInitialised = false;
};
