#include "tests/ui/ModalCatcher.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

CModalCatcher::CModalCatcher() {
    m_timer.setInterval(2);
    connect(&m_timer, &QTimer::timeout, this, &CModalCatcher::Poll);
    m_timer.start();
}

void CModalCatcher::Poll() {
    auto* pDialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (pDialog == nullptr || !pDialog->isVisible()) {
        return;
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
    if (auto* pBox = qobject_cast<QMessageBox*>(pDialog)) {
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
