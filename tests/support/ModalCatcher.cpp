#include "tests/support/ModalCatcher.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

namespace {

// Far beyond what any test keeps a window open for; its own waits are bounded in seconds.
constexpr qint64 kLeftOpenMs = 60'000;

} // namespace

CModalCatcher::CModalCatcher(Mode mode) : m_mode(mode) {
    m_timer.setInterval(2);
    connect(&m_timer, &QTimer::timeout, this, &CModalCatcher::Poll);
    m_timer.start();
}

void CModalCatcher::Poll() {
    auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (pDialog == nullptr || !pDialog->isVisible()) {
        return;
    }
    auto* pBox = qobject_cast<QMessageBox*>(pDialog);
    if (m_mode == Mode::FailOnMessageBox) {
        if (pBox == nullptr) {
            WatchLeftOpen(pDialog);
            return;
        }
        ADD_FAILURE() << "a message box that the test did not expect: \""
                      << pBox->text().toStdString() << "\" (" << pBox->detailedText().toStdString()
                      << ")";
    }
    Seen seen;
    seen.className = QString::fromLatin1(pDialog->metaObject()->className());
    seen.title = pDialog->windowTitle();
    seen.size = pDialog->size();
    seen.frame = pDialog->frameGeometry();
    const auto buttons = pDialog->findChildren<QPushButton*>();
    for (const QPushButton* pButton : buttons) {
        seen.buttons << pButton->text();
    }
    const auto labels = pDialog->findChildren<QLabel*>();
    for (const QLabel* pLabel : labels) {
        if (!pLabel->text().isEmpty()) {
            seen.labels << pLabel->text();
        }
    }
    if (pBox != nullptr) {
        seen.text = pBox->text();
        seen.detailedText = pBox->detailedText();
        seen.icon = pBox->icon();
    }
    m_vecSeen.push_back(seen);
    if (m_fnWhileOpen) {
        m_fnWhileOpen();
    }

    // Close it the way a user would: with its default button when it has one.
    for (QPushButton* pButton : buttons) {
        if (pButton->isDefault() && pButton->isEnabled()) {
            pButton->click();
            return;
        }
    }
    pDialog->accept();
}

void CModalCatcher::WatchLeftOpen(QDialog* pDialog) {
    if (pDialog != m_pWatched) {
        m_pWatched = pDialog;
        m_watchedFor.start();
        return;
    }
    if (m_watchedFor.elapsed() > kLeftOpenMs) {
        ADD_FAILURE() << "a modal window was left open: \"" << pDialog->windowTitle().toStdString()
                      << "\"";
        pDialog->reject();
    }
}
