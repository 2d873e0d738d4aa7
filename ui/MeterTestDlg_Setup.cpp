// The setup dialog as the main window runs it: copies in, one modal run, and on OK the changed
// line settings and the unit text back.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProgressBar>

#include <array>
#include <cstdio>

#include "ui/SetupDlg.h"

namespace {

// The dialog's lists offer only valid positions, but a list can end up with no selection (-1);
// such an index would reach the line-setting tables unchecked, so the current one stays.
int32_t ValidIndexOr(int32_t index, size_t count, int32_t current) {
    return index >= 0 && static_cast<size_t>(index) < count ? index : current;
}

} // namespace

void CMeterTestDlg::OpenSetupDialog() {
    CSetupDlg dlg;
    // Owned by the main window: it stays above it, and the main window takes no input meanwhile.
    dlg.setParent(this, dlg.windowFlags());

    dlg.m_nPortIndex = m_portSettings.portIndex;
    dlg.m_nSpeedIndex = m_portSettings.speedIndex;
    dlg.m_nDataBitsIndex = m_portSettings.dataBitsIndex;
    dlg.m_nParityIndex = m_portSettings.parityIndex;
    dlg.m_nStopBitsIndex = m_portSettings.stopBitsIndex;
    dlg.m_strUnit = m_strUnit;
    dlg.m_strAddress = m_pAddressList->currentText().toLatin1().toStdString();
    std::array<char, 8> bank{};
    std::snprintf(bank.data(), bank.size(), "%d", m_pBank1->isChecked() ? 1 : 0);
    dlg.m_strBank = bank.data();
    dlg.m_pMainWnd = this;

    if (dlg.exec() != QDialog::Accepted) {
        return;
    }

    const PortSettings& current = m_portSettings;
    const PortSettings chosen{
        .portIndex = ValidIndexOr(dlg.m_nPortIndex, kPortCount, current.portIndex),
        .speedIndex = ValidIndexOr(dlg.m_nSpeedIndex, kBaudTable.size(), current.speedIndex),
        .dataBitsIndex =
            ValidIndexOr(dlg.m_nDataBitsIndex, kDataBitsChoices.size(), current.dataBitsIndex),
        .parityIndex = ValidIndexOr(dlg.m_nParityIndex, kParityChoices.size(), current.parityIndex),
        .stopBitsIndex =
            ValidIndexOr(dlg.m_nStopBitsIndex, kStopBitsChoices.size(), current.stopBitsIndex),
    };
    if (chosen != m_portSettings) {
        m_portSettings = chosen;
        ClosePort();
        OpenPortFromSettings();
        if (m_pAutoscan->isChecked()) {
            StartPolling();
        }
    }
    // The unit goes back on every OK, changed settings or not.
    m_strUnit = dlg.m_strUnit;
}

void CMeterTestDlg::ShowProgressWhile(const std::function<void(QProgressBar*)>& fn) {
    m_pResponseEdit->hide();
    m_pProgress->show();
    // On screen before the read-out holds the thread: the bar in place of the old dump.
    repaint(m_pResponseEdit->geometry());
    fn(m_pProgress);
    m_pProgress->hide();
    m_pResponseEdit->show();
}
