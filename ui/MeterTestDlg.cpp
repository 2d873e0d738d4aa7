// Construction, initialisation, line settings, the Autoscan switch, system commands and teardown of
// the main window.
#include "ui/MeterTestDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QThread>
#include <QTimer>

#include <cstdio>

#include "render/Resources.h"
#include "ui/PictureCtrl.h"

namespace {

// System-menu string 101.
const char* const kAboutMenuText = "QD7Series 정보(&A)...";

// "COM%d can't open!", with the device and the reason in the box's details ("Show Details...")
// and on stderr, so that a user can act on it.
void ReportOpenFailure(QWidget* pParent, int port, const std::string& reason) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "COM%d can't open!", port);
    const QString appName = QCoreApplication::applicationName();
    std::fprintf(stderr, "%s: %s %s\n", appName.toLocal8Bit().constData(), text.data(),
                 reason.c_str());
    QMessageBox box(QMessageBox::Warning, appName, QString::fromLatin1(text.data()),
                    QMessageBox::Ok, pParent);
    box.setDefaultButton(QMessageBox::Ok);
    box.setDetailedText(QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())));
    box.exec();
}

} // namespace

CMeterTestDlg::CMeterTestDlg(QWidget* parent) : CMeterTestDlg(nullptr, parent) {}

CMeterTestDlg::CMeterTestDlg(std::unique_ptr<ISerialOps> pOps, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      m_serialPort(std::move(pOps)), m_hIcon(QString::fromUtf8(kIconResource)),
      m_fnSleep([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }) {
    setWindowTitle(QStringLiteral("QD7 Series RS485 test app."));
    CreateControls();

    m_pPollTimer = new QTimer(this);
    m_pPollTimer->setTimerType(Qt::PreciseTimer);
    m_pPollTimer->setInterval(kPollPeriodMs);

    // The window's system menu; the about entry is appended by OnInitDialog.
    m_pSystemMenu = new QMenu(this);
    m_pSystemMenu->addAction(QStringLiteral("Close"))->setData(kCloseCommand);

    ConnectHandlers();
}

CMeterTestDlg::~CMeterTestDlg() {
    if (!m_bDestroyed) {
        DestroyWindow();
    }
}

void CMeterTestDlg::ConnectHandlers() {
    connect(m_pPollTimer, &QTimer::timeout, this, [this] { OnPollTimer(kPollTimerId); });
    connect(m_pSendButton, &QPushButton::clicked, this, &CMeterTestDlg::SendText);
    connect(m_pAutoscan, &QCheckBox::clicked, this, &CMeterTestDlg::ApplyAutoscanMode);
    connect(m_pPicture, &CPictureCtrl::clicked, this, &CMeterTestDlg::OpenSetupDialog);
    connect(m_pPicture, &CPictureCtrl::repainting, this, &CMeterTestDlg::OnPaint);
    connect(m_pSystemMenu, &QMenu::triggered, this,
            [this](QAction* pAction) { OnSysCommand(pAction->data().toUInt()); });
}

bool CMeterTestDlg::OnInitDialog() {
    m_bInitialised = true;
    AppendAboutEntry();
    setWindowIcon(m_hIcon);
    m_portSettings = PortSettings{};

    m_digitDisplay.Attach(m_pPicture->Surface());
    m_digitDisplay.m_nColorRow = 1; // red
    std::snprintf(m_szDisplayText.data(), m_szDisplayText.size(), "%5.0f", 0.0);
    m_lampDisplay.Attach(m_pPicture->Surface());

    m_pAutoscan->setChecked(true);
    m_pPnp->setChecked(true);
    m_pBank1->setChecked(false);
    ApplyAutoscanMode();

    m_strUnit = "Sec";
    OpenPortFromSettings();

    // The first control that takes the focus.
    m_pAddressList->setFocus();
    return true;
}

void CMeterTestDlg::AppendAboutEntry() {
    if (m_pSystemMenu == nullptr) {
        return;
    }
    const QString text = QString::fromUtf8(kAboutMenuText);
    if (text.isEmpty()) {
        return;
    }
    m_pSystemMenu->addSeparator();
    m_pSystemMenu->addAction(text)->setData(kAboutCommand);
}

void CMeterTestDlg::OpenPortFromSettings() {
    if (OpenSerialPort() == kNullPortHandle) {
        ReportOpenFailure(this, PortNumber(m_portSettings), m_serialPort.FailureReason());
    }
    m_pollCycle.Reset();
}

bool CMeterTestDlg::ClosePort() {
    m_pPollTimer->stop();
    return m_serialPort.Close();
}

void CMeterTestDlg::ApplyAutoscanMode() {
    const bool bAutoscan = m_pAutoscan->isChecked();
    if (bAutoscan) {
        StartPolling();
    } else {
        StopPolling();
    }
    // Free text can be sent only while the poll cycle is off; the scan switched only while it runs.
    m_pSendButton->setEnabled(!bAutoscan);
    m_pTextEdit->setEnabled(!bAutoscan);
    m_pPnp->setEnabled(bAutoscan);
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
    if (m_bDestroyed) {
        return false;
    }
    ClosePort();
    m_digitDisplay.Detach();
    m_lampDisplay.Detach();
    m_bDestroyed = true;
    QDialog::setVisible(false);
    return true;
}

int CMeterTestDlg::exec() {
    const int result = QDialog::exec();
    DestroyWindow();
    return result;
}

void CMeterTestDlg::setVisible(bool visible) {
    if (visible && !m_bInitialised) {
        // Centred on the mouse pointer, kept on its screen; placed before the initialisation, so
        // that a box it shows ("COM1 can't open!") opens over the window.
        const QPoint pointer = QCursor::pos();
        const QScreen* pScreen = QGuiApplication::screenAt(pointer);
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(pointer);
        if (pScreen != nullptr) {
            const QRect area = pScreen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), area.left(),
                                      std::max(area.left(), area.right() - frame.width())));
            frame.moveTop(std::clamp(frame.top(), area.top(),
                                     std::max(area.top(), area.bottom() - frame.height())));
        }
        move(frame.topLeft());
        OnInitDialog();
    }
    QDialog::setVisible(visible);
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
