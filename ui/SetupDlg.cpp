// The setup dialog's window: its controls from template 137, the handler table, the first
// read-out before the dialog is shown, and OK.
#include "ui/SetupDlg.h"

#include <QComboBox>
#include <QCursor>
#include <QGuiApplication>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>

#include <algorithm>
#include <vector>

#include "serial/PortAddress.h"
#include "serial/PortDevice.h"
#include "ui/DialogLayout.h"
#include "ui/MeterTestDlg.h"
#include "ui/SetupDlgLayout.h"

namespace {

// Created centred on the mouse pointer, kept on the pointer's screen.
void CentreOnPointer(QWidget* pWindow) {
    const QPoint pointer = QCursor::pos();
    QRect frame(QPoint(0, 0), pWindow->size());
    frame.moveCenter(pointer);
    if (const QScreen* pScreen = QGuiApplication::screenAt(pointer)) {
        const QRect area = pScreen->availableGeometry();
        frame.moveLeft(std::clamp(frame.left(), area.left(),
                                  std::max(area.left(), area.right() - frame.width())));
        frame.moveTop(std::clamp(frame.top(), area.top(),
                                 std::max(area.top(), area.bottom() - frame.height())));
    }
    pWindow->move(frame.topLeft());
}

// Paths and names from the serial library, which keeps its text in UTF-8 on every system.
QString SerialText(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// What item COMn stands for: the device it opens, how it was named ($QD7_COMn, or an adapter's
// stable name under /dev/serial/by-id), or that there is none. An adapter is found again by that
// name after an unplug, never by the number, which another adapter may have taken meanwhile.
QString PortToolTip(int port, const PortLocation& location) {
    const SerialDevice& device = location.device;
    if (device.path.empty()) {
        return QStringLiteral("No serial port (%1 present)").arg(location.nPresent);
    }
    if (location.bFromEnvironment && IsNetworkPort(device.path)) {
        return QStringLiteral("%1 (QD7_COM%2): a serial device server on the network")
            .arg(SerialText(device.path))
            .arg(port);
    }
    QString tip = SerialText(device.device.empty() ? device.path : device.device);
    if (location.bFromEnvironment) {
        tip += QStringLiteral(" (QD7_COM%1=%2)").arg(port).arg(SerialText(device.path));
    }
    if (!device.byIdName.empty()) {
        tip += QStringLiteral("\n") + SerialText(device.byIdName) +
               QStringLiteral("\nReopened by this name after an unplug, never as another adapter");
    }
    return tip;
}

// The port the window holds lost its device: it waits for that one, whatever COMn names now.
QString LostPortLine(const CSerialPort& port) {
    return QStringLiteral("Unplugged: waits for %1 to come back, opens nothing else\n")
        .arg(SerialText(port.ReopenPath()));
}

} // namespace

CSetupDlg::CSetupDlg()
    : QDialog(nullptr, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint) {
    setWindowTitle(QString::fromLatin1(kSetupDialogCaption));
    CreateControls();
    ConnectHandlers();
}

CSetupDlg::~CSetupDlg() = default;

void CSetupDlg::CreateControls() {
    setFont(DialogFont());
    const CDialogUnits units = CDialogUnits::FromFont(font());
    CreateDialogItems(this, SetupDialogLayout(), units);
    setFixedSize(units.ToPixelsX(kSetupDialogWidth), units.ToPixelsY(kSetupDialogHeight));
    // A focused push button takes the default role while it has the focus, as Enter expects.
    for (const int id : {kIdcSetupReload, kIdOk, kIdCancel}) {
        if (auto* pButton = qobject_cast<QPushButton*>(FindDialogItem(this, id))) {
            pButton->setAutoDefault(true);
        }
    }
}

void CSetupDlg::ConnectHandlers() {
    auto* pReload = qobject_cast<QPushButton*>(FindDialogItem(this, kIdcSetupReload));
    auto* pOk = qobject_cast<QPushButton*>(FindDialogItem(this, kIdOk));
    auto* pCancel = qobject_cast<QPushButton*>(FindDialogItem(this, kIdCancel));
    connect(pReload, &QPushButton::clicked, this, &CSetupDlg::OnReload);
    connect(pOk, &QPushButton::clicked, this, &CSetupDlg::accept);
    connect(pCancel, &QPushButton::clicked, this, &CSetupDlg::reject);
}

void CSetupDlg::FillDropLists() {
    for (const DropListData& list : SetupDialogListData()) {
        auto* pCombo = qobject_cast<QComboBox*>(FindDialogItem(this, list.nId));
        if (pCombo == nullptr || pCombo->count() != 0) {
            continue;
        }
        for (const DropListItem& item : list.items) {
            pCombo->addItem(item.text, item.nValue);
        }
    }
}

void CSetupDlg::SetPortToolTips() {
    auto* pPorts = qobject_cast<QComboBox*>(FindDialogItem(this, kIdcSetupPort));
    if (pPorts == nullptr) {
        return;
    }
    // Looked up afresh each time the dialog opens, so an adapter plugged in meanwhile shows.
    const PortDirectories dirs =
        m_pMainWnd != nullptr ? m_pMainWnd->m_serialPort.Directories() : PortDirectories{};
    const std::vector<PortLocation> locations = LocatePorts(pPorts->count(), dirs);
    const bool bLost = m_pMainWnd != nullptr && m_pMainWnd->m_serialPort.IsLost();
    const int lostPort = bLost ? PortNumber(m_pMainWnd->m_portSettings) : 0;
    for (size_t i = 0; i < locations.size(); ++i) {
        const int item = static_cast<int>(i);
        QString tip = PortToolTip(item + 1, locations[i]);
        if (item + 1 == lostPort) {
            tip.prepend(LostPortLine(m_pMainWnd->m_serialPort));
        }
        pPorts->setItemData(item, tip, Qt::ToolTipRole);
    }
}

bool CSetupDlg::OnInitDialog() {
    m_bInitialised = true;
    FillDropLists();
    SetPortToolTips();
    DoDataExchange(false);

    if (m_pMainWnd != nullptr) {
        // The first read-out runs before this dialog is shown, so its progress appears in the
        // main window.
        m_pMainWnd->ShowProgressWhile(
            [this](QProgressBar* pProgress) { LoadRegisters(pProgress); });
    }

    // The first control that takes the focus.
    if (QWidget* pPort = FindDialogItem(this, kIdcSetupPort)) {
        pPort->setFocus();
    }
    return true;
}

void CSetupDlg::OnReload() {
    LoadRegisters(m_pProgress);
}

void CSetupDlg::accept() {
    DoDataExchange(true);
    QDialog::accept();
}

void CSetupDlg::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        OnInitDialog();
        CentreOnPointer(this);
    }
    QDialog::setVisible(visible);
}
