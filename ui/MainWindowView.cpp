#include "ui/MainWindowView.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QThread>
#include <QTimer>

#include <chrono>
#include <cstdio>

#include "render/PanelLayout.h"
#include "ui/ComboHelper.h"
#include "ui/PictureCtrl.h"

namespace {

constexpr int kRedRow = 1; // the glyph sheet's row of the digits

// Texts of the exchanges are single-byte strings.
QString Latin1(std::string_view text) {
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

LampState LampStateOf(LampColour colour) {
    switch (colour) {
    case LampColour::Green:
        return LampGreen;
    case LampColour::DarkGreen:
        return LampDarkGreen;
    case LampColour::Yellow:
        return LampYellow;
    }
    return LampRed;
}

} // namespace

CMainWindowView::CMainWindowView(QWidget* pWindow, const MainWindowControls& controls)
    : m_pWindow(pWindow), m_controls(controls), m_pPollTimer(new QTimer(pWindow)),
      m_fnSleep([](int ms) { QThread::msleep(static_cast<unsigned long>(ms)); }), m_fnNowMs([] {
          return std::chrono::duration_cast<std::chrono::milliseconds>(
                     std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {
    m_pPollTimer->setObjectName(QStringLiteral("pollTimer"));
    m_pPollTimer->setTimerType(Qt::PreciseTimer);
    m_pPollTimer->setInterval(kPollPeriodMs);
}

CMainWindowView::~CMainWindowView() = default;

void CMainWindowView::AttachPanel() {
    m_digitDisplay.Attach(m_controls.pPicture->Surface());
    m_digitDisplay.m_nColorRow = kRedRow;
    m_lampDisplay.Attach(m_controls.pPicture->Surface());
    ForgetPanel();
}

void CMainWindowView::DetachPanel() {
    m_digitDisplay.Detach();
    m_lampDisplay.Detach();
    ForgetPanel();
}

void CMainWindowView::ForgetPanel() {
    m_shown = Shown{};
}

void CMainWindowView::DrawValue(const char* pszText) {
    if (pszText != nullptr && m_shown.value == pszText) {
        return;
    }
    m_digitDisplay.DrawValue(kValueOrigin.x(), kValueOrigin.y(), pszText);
    if (pszText != nullptr) {
        m_shown.value = pszText;
        if (m_digitDisplay.ValueCoversUnit()) {
            m_shown.unit.reset(); // the unit goes over the value's cells again
        }
    }
}

void CMainWindowView::DrawUnit(const char* pszText) {
    // The unit is written in the application's font, which the desktop may change meanwhile.
    const QFont font = QGuiApplication::font();
    if (pszText != nullptr && m_shown.unit == pszText && m_shown.unitFont == font) {
        return;
    }
    m_digitDisplay.DrawUnit(kUnitOrigin.x(), kUnitOrigin.y(), pszText);
    if (pszText != nullptr) {
        m_shown.unit = pszText;
        m_shown.unitFont = font;
    }
}

void CMainWindowView::DrawLamp(Lamp lamp, LampColour colour) {
    std::optional<LampColour>& shown = m_shown.lamps[lamp == Lamp::Send ? 0 : 1];
    if (shown == colour) {
        return;
    }
    const QPoint origin = lamp == Lamp::Send ? kSendLampOrigin : kReceiveLampOrigin;
    m_lampDisplay.DrawLamp(origin.x(), origin.y(), LampStateOf(colour));
    shown = colour;
}

void CMainWindowView::ShowNow() {
    // The repaints the drawings and texts have asked for since, all in one: one round of painting
    // and one transfer to the window system, where each drawing on its own was one of each.
    QCoreApplication::sendPostedEvents(m_pWindow, QEvent::UpdateRequest);
}

void CMainWindowView::ShowFrameBody(std::string_view body) {
    const QString text = Latin1(body);
    if (m_controls.pTextEdit->text() == text) {
        return;
    }
    m_controls.pTextEdit->setText(text);
}

std::string CMainWindowView::FrameText() const {
    return m_controls.pTextEdit->text().toLatin1().toStdString();
}

void CMainWindowView::ShowCrcText(std::string_view text) {
    const QString crc = Latin1(text);
    if (m_controls.pCrcLabel->text() == crc) {
        return;
    }
    m_controls.pCrcLabel->setText(crc);
}

void CMainWindowView::ShowResponse(std::string_view hexDump) {
    QLineEdit* pEdit = m_controls.pResponseEdit;
    const QString text = Latin1(hexDump);
    if (pEdit->text() == text) {
        return;
    }
    pEdit->setText(text);
    // The reply's first bytes (ACK, STX, address) stay in view when the dump is wider than the
    // field.
    pEdit->setCursorPosition(0);
}

bool CMainWindowView::IsChecked(Box box) const {
    switch (box) {
    case Box::Bank1:
        return m_controls.pBank1->isChecked();
    case Box::Pnp:
        return m_controls.pPnp->isChecked();
    case Box::Autoscan:
        return m_controls.pAutoscan->isChecked();
    }
    return false;
}

int CMainWindowView::FindAddressEntry(std::string_view text) const {
    return FindStringPrefix(m_controls.pAddressList, Latin1(text));
}

void CMainWindowView::AddAddressEntry(std::string_view text) {
    AddSortedString(m_controls.pAddressList, Latin1(text));
}

void CMainWindowView::RemoveAddressEntry(int position) {
    m_controls.pAddressList->removeItem(position);
}

int CMainWindowView::AddressEntryCount() const {
    return m_controls.pAddressList->count();
}

int CMainWindowView::SelectedAddressEntry() const {
    return m_controls.pAddressList->currentIndex();
}

void CMainWindowView::SelectAddressEntry(int position) {
    m_controls.pAddressList->setCurrentIndex(position);
}

std::string CMainWindowView::AddressListText() const {
    return m_controls.pAddressList->currentText().toLatin1().toStdString();
}

void CMainWindowView::ReportOpenFailure(const std::string& message, const std::string& reason) {
    // The reason in the box's details ("Show Details...") and on stderr, so that a user can act
    // on it.
    const QString appName = QCoreApplication::applicationName();
    std::fprintf(stderr, "%s: %s %s\n", appName.toLocal8Bit().constData(), message.c_str(),
                 reason.c_str());
    QMessageBox box(QMessageBox::Warning, appName, QString::fromStdString(message), QMessageBox::Ok,
                    m_pWindow);
    box.setDefaultButton(QMessageBox::Ok);
    // The port is tried again only when the user asks: say how.
    box.setDetailedText(QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size())) +
                        QStringLiteral("\n\nChoose OK in the setup dialog (click the front "
                                       "panel) to try again."));
    box.exec();
}

void CMainWindowView::ReportNote(const std::string& note) {
    std::fprintf(stderr, "%s: %s\n", QCoreApplication::applicationName().toLocal8Bit().constData(),
                 note.c_str());
}

void CMainWindowView::StartPollTimer() {
    // Starting a running timer replaces it: its period begins afresh.
    m_pPollTimer->start();
}

void CMainWindowView::StopPollTimer() {
    m_pPollTimer->stop();
}

void CMainWindowView::Sleep(int ms) {
    ShowNow();
    m_fnSleep(ms);
}

int64_t CMainWindowView::NowMs() const {
    return m_fnNowMs();
}

void CMainWindowView::WakeSession() {
    if (m_fnWake) {
        m_fnWake();
    }
}
