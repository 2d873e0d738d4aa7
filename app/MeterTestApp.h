#pragma once

#include <QApplication>

class CMeterTestDlg;

// Lets the main window's about entry run the about box, which lives in this layer.
void InstallAboutBox(CMeterTestDlg& dlg);

// The application object: runs the main window modally, and the program ends when it closes.
// There is no message loop of the program's own beyond the main window's modal run.
class CMeterTestApp : public QApplication {
    Q_OBJECT

public:
    CMeterTestApp(int& argc, char** argv);

    // Constructs the main window, runs it modally and destroys it. Returns false: the program
    // then ends instead of entering a loop of its own.
    bool InitInstance();
};
