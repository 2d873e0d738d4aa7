#pragma once

#include <QImage>
#include <QString>

#include <string>
#include <vector>

class CMeterSession;
class CMeterTestDlg;
class CPictureCtrl;
class IMeterView;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QTimer;

// The main window as the tests reach it: its controls by their ids in template 102, the session
// behind it and the view the session draws through, its poll timer and system menu, the picture
// of its front panel. The one place of the tests that knows how the window is built.
class CMainWindowDriver {
public:
    explicit CMainWindowDriver(CMeterTestDlg* pDlg = nullptr) : m_pDlg(pDlg) {}

    CMeterTestDlg& Window() const { return *m_pDlg; }
    CMeterSession& Session() const;
    IMeterView& View() const;

    QComboBox* AddressList() const;
    QCheckBox* Bank1() const;
    QCheckBox* Pnp() const;
    QCheckBox* Autoscan() const;
    QPushButton* SendButton() const;
    QLineEdit* TextEdit() const;
    QLineEdit* ResponseEdit() const;
    QLabel* CrcLabel() const;
    QProgressBar* Progress() const;
    CPictureCtrl* Picture() const;
    QTimer* PollTimer() const;
    QMenu* SystemMenu() const;

    // The front panel as the renderers left it: the picture's image, not the screen.
    const QImage& Panel() const;
    // The address list's entries in list order, and its current text.
    std::vector<std::string> Entries() const;
    QString Selected() const;
    // A left click on the front panel, as a user opens the setup dialog.
    void ClickPanel() const;

protected:
    void Drive(CMeterTestDlg* pDlg) { m_pDlg = pDlg; }

private:
    template <typename T> T* Control(int id) const;

    CMeterTestDlg* m_pDlg;
};
