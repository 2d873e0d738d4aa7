#pragma once

#include <QDialog>

// The about box: the program's icon, name and version, and an OK button. It lives for one modal
// run; OK, Escape and the close box end it.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};
