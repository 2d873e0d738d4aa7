#include "tests/support/MainWindowDriver.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "tests/support/ListEntries.h"
#include "ui/DialogLayout.h"
#include "ui/MainWindowLayout.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

template <typename T> T* CMainWindowDriver::Control(int id) const {
    T* pControl = qobject_cast<T*>(FindDialogItem(m_pDlg, id));
    if (pControl == nullptr) {
        ADD_FAILURE() << "the main window has no control " << id << " of the expected kind";
    }
    return pControl;
}

CMeterSession& CMainWindowDriver::Session() const {
    return m_pDlg->Session();
}

IMeterView& CMainWindowDriver::View() const {
    return m_pDlg->View();
}

QComboBox* CMainWindowDriver::AddressList() const {
    return Control<QComboBox>(kIdcAddressList);
}

QCheckBox* CMainWindowDriver::Bank1() const {
    return Control<QCheckBox>(kIdcBank1);
}

QCheckBox* CMainWindowDriver::Pnp() const {
    return Control<QCheckBox>(kIdcPnp);
}

QCheckBox* CMainWindowDriver::Autoscan() const {
    return Control<QCheckBox>(kIdcAutoscan);
}

QPushButton* CMainWindowDriver::SendButton() const {
    return Control<QPushButton>(kIdcSend);
}

QLineEdit* CMainWindowDriver::TextEdit() const {
    return Control<QLineEdit>(kIdcTextEdit);
}

QLineEdit* CMainWindowDriver::ResponseEdit() const {
    return Control<QLineEdit>(kIdcResponseEdit);
}

QLabel* CMainWindowDriver::CrcLabel() const {
    return Control<QLabel>(kIdcCrcLabel);
}

QProgressBar* CMainWindowDriver::Progress() const {
    return Control<QProgressBar>(kIdcProgress);
}

CPictureCtrl* CMainWindowDriver::Picture() const {
    return Control<CPictureCtrl>(kIdcPicture);
}

QTimer* CMainWindowDriver::PollTimer() const {
    auto* pTimer = m_pDlg->findChild<QTimer*>(QStringLiteral("pollTimer"));
    EXPECT_NE(pTimer, nullptr) << "the main window has no poll timer";
    return pTimer;
}

QMenu* CMainWindowDriver::SystemMenu() const {
    auto* pMenu = m_pDlg->findChild<QMenu*>(QStringLiteral("systemMenu"));
    EXPECT_NE(pMenu, nullptr) << "the main window has no system menu";
    return pMenu;
}

const QImage& CMainWindowDriver::Panel() const {
    return Picture()->Surface()->image;
}

std::vector<std::string> CMainWindowDriver::Entries() const {
    return ListEntries(AddressList());
}

QString CMainWindowDriver::Selected() const {
    return AddressList()->currentText();
}

void CMainWindowDriver::ClickPanel() const {
    QTest::mouseClick(Picture(), Qt::LeftButton, {}, QPoint(100, 50));
}
