#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QStyle>
#include <QTimer>

#include <array>
#include <cstdio>

#include "render/Artwork.h"
#include "render/Resources.h"
#include "ui/DialogLayout.h"
#include "ui/PictureCtrl.h"
#include "ui/ProgressBarLink.h"

namespace {

// System-menu string 101.
const char* const kAboutMenuText = "QD7Series 정보(&A)...";

} // namespace

CMeterTestDlg::CMeterTestDlg(QWidget* parent) : CMeterTestDlg(nullptr, parent) {}

CMeterTestDlg::CMeterTestDlg(std::unique_ptr<ISerialOps> pOps, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_controls(CreateMainWindowControls(this)), m_view(this, m_controls),
      m_session(m_view, std::move(pOps)),
      m_hIcon(LoadArtworkIcon(QString::fromLatin1(kIconResource))) {
    setWindowTitle(QStringLiteral("QD7 Series RS485 test app."));

    // The window's system menu; the about entry is appended by OnInitDialog.
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->setObjectName(QStringLiteral("systemMenu"));
    m_pSystemMenu->addAction(QStringLiteral("Close"))->setData(kCloseCommand);

    ConnectHandlers();
}

CMeterTestDlg::~CMeterTestDlg() {
    DestroyWindow();
}

void CMeterTestDlg::ConnectHandlers() {
    connect(m_view.PollTimer(), &QTimer::timeout, this,
            [this] { m_session.OnPollTimer(CMeterSession::kPollTimerId); });
    m_view.SetWakeHandler([this] { emit sessionWoken(); });
    connect(
        this, &CMeterTestDlg::sessionWoken, this, [this] { m_session.OnWake(); },
        Qt::QueuedConnection);
    connect(m_controls.pSend, &QPushButton::clicked, this, [this] { m_session.SendText(); });
    connect(m_controls.pAutoscan, &QCheckBox::clicked, this, &CMeterTestDlg::ApplyAutoscanMode);
    connect(m_controls.pPicture, &CPictureCtrl::clicked, this, &CMeterTestDlg::OpenSetupDialog);
    connect(m_controls.pPicture, &CPictureCtrl::repainting, this, &CMeterTestDlg::OnPaint);
    connect(m_pSystemMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
    // The end of the modal run (OK, Cancel, Escape, the close box) tears the window down.
    connect(this, &QDialog::finished, this, &CMeterTestDlg::DestroyWindow);
}

void CMeterTestDlg::setVisible(bool visible) {
    // Start-up belongs to the first show, which exec() does: the window is placed on the pointer,
    // so that a box of the initialisation ("COM1 can't open!") opens over it, then initialised,
    // and only then does it appear.
    if (visible && m_session.State() == DeviceState::NotStarted) {
        CentreOnPointer(this);
        OnInitDialog();
    }
    QDialog::setVisible(visible);
}

bool CMeterTestDlg::OnInitDialog() {
    AppendAboutEntry();
    setWindowIcon(m_hIcon);
    // The line settings (COM1, 9600 8N1), the display text "    0" and the unit "Sec" hold their
    // start values from the session's construction.
    m_view.AttachPanel(); // the digits in red, then the lamps

    m_controls.pAutoscan->setChecked(true);
    m_controls.pPnp->setChecked(true);
    m_controls.pBank1->setChecked(false);
    ApplyAutoscanMode(); // Autoscan is on: the poll timer starts
    // The port last: when it does not open, its box runs while the poll timer already ticks.
    m_session.OpenPortFromSettings();

    // The first control that takes the focus.
    m_controls.pAddressList->setFocus();
    return true;
}

void CMeterTestDlg::AppendAboutEntry() {
    const QString text = QString::fromUtf8(kAboutMenuText);
    if (text.isEmpty()) {
        return;
    }
    m_pSystemMenu->addSeparator();
    m_pSystemMenu->addAction(text)->setData(kAboutCommand);
}

void CMeterTestDlg::ApplyAutoscanMode() {
    const bool bAutoscan = m_controls.pAutoscan->isChecked();
    if (bAutoscan) {
        m_session.StartPolling();
    } else {
        m_session.StopPolling();
    }
    // Free text can be sent only while the poll cycle is off; the scan switched only while it runs.
    m_controls.pSend->setEnabled(!bAutoscan);
    m_controls.pTextEdit->setEnabled(!bAutoscan);
    m_controls.pPnp->setEnabled(bAutoscan);
}

void CMeterTestDlg::OpenSetupDialog() {
    CSetupDlg dlg;
    // Owned by the main window: it stays above it, and the main window takes no input meanwhile.
    dlg.setParent(this, dlg.windowFlags());

    dlg.SetPortSettings(m_session.Settings());
    dlg.m_strUnit = m_session.Unit();
    dlg.m_strAddress = m_view.AddressListText();
    std::array<char, 8> bank{};
    std::snprintf(bank.data(), bank.size(), "%d", m_view.IsChecked(Box::Bank1) ? 1 : 0);
    dlg.m_strBank = bank.data();
    dlg.m_pMainWnd = this;

    if (dlg.exec() != QDialog::Accepted) {
        return;
    }
    const PortSettings chosen = ValidSettingsOr(dlg.ChosenPortSettings(), m_session.Settings());
    if (chosen != m_session.Settings()) {
        m_session.ApplyLineSettings(chosen);
    } else {
        // Unchanged settings: a port refused at start (held elsewhere, a server not up yet) is
        // tried again, without changing a setting and back.
        m_session.OpenIfNotOpen();
    }
    // The unit goes back on every OK, changed settings or not.
    m_session.SetUnit(dlg.m_strUnit);
}

void CMeterTestDlg::ReadAllRegisters(RegisterSnapshot* pSnapshot, QProgressBar* pProgress) {
    CProgressBarLink bar(pProgress);
    m_session.ReadAllRegisters(pSnapshot, pProgress != nullptr ? &bar : nullptr);
}

void CMeterTestDlg::ShowProgressWhile(const std::function<void(QProgressBar*)>& fn) {
    m_controls.pResponseEdit->hide();
    m_controls.pProgress->show();
    // On screen before the read-out holds the thread: the bar in place of the old dump.
    repaint(m_controls.pResponseEdit->geometry());
    fn(m_controls.pProgress);
    m_controls.pProgress->hide();
    m_controls.pResponseEdit->show();
}

SetupPortInfo CMeterTestDlg::PortInfo() const {
    const CSerialPort& port = m_session.SerialPort();
    SetupPortInfo info;
    info.dirs = port.Directories();
    info.nPort = PortNumber(m_session.Settings());
    if (m_session.State() == DeviceState::Lost) {
        info.bLost = true;
        info.strWaitingFor = port.ReopenPath();
    }
    if ((m_session.State() == DeviceState::Open || info.bLost) && !port.HasStableIdentity()) {
        info.strUnstableName = port.ReopenPath();
    }
    return info;
}

void CMeterTestDlg::OnSysCommand(unsigned id) {
    const unsigned command = id & 0xFFF0U;
    if (command == kAboutCommand) {
        if (m_fnAboutBox) {
            m_fnAboutBox();
        }
        return;
    }
    if (command == kCloseCommand) {
        close();
    }
}

bool CMeterTestDlg::DestroyWindow() {
    if (m_session.State() == DeviceState::Ended) {
        return false;
    }
    m_session.End(); // the poll timer stopped, then the port closed
    m_view.DetachPanel();
    QDialog::setVisible(false);
    return true;
}

void CMeterTestDlg::OnPaint() {
    // The picture has just put its printed panel back: the lamps stay as printed until the next
    // exchange draws them.
    m_view.ForgetPanel();
    if (!isMinimized()) {
        m_session.DrawFrontPanel();
    }
}

void CMeterTestDlg::paintEvent(QPaintEvent* pEvent) {
    if (isMinimized()) {
        QPainter painter(this);
        painter.fillRect(rect(), palette().window());
        const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
        const int x = (width() - iconSize + 1) / 2;
        const int y = (height() - iconSize + 1) / 2;
        m_hIcon.paint(&painter, x, y, iconSize, iconSize);
        return;
    }
    // The front panel is the picture's to repaint, and it has the value and the unit drawn on it
    // as it does (OnPaint); the rest of the window is the dialog's.
    QDialog::paintEvent(pEvent);
}

void CMeterTestDlg::contextMenuEvent(QContextMenuEvent* pEvent) {
    m_pSystemMenu->exec(pEvent->globalPos());
}

void CMeterTestDlg::keyPressEvent(QKeyEvent* pEvent) {
    const int key = pEvent->key();
    if ((key == Qt::Key_Return || key == Qt::Key_Enter) &&
        (pEvent->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // There is no default push button: Enter presses the focused button, and counts as OK
        // everywhere else.
        if (auto* pButton = qobject_cast<QPushButton*>(focusWidget())) {
            pButton->click();
        } else {
            accept();
        }
        return;
    }
    QDialog::keyPressEvent(pEvent);
}
