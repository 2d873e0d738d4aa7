#include "app/MeterTestApp.h"

#include "app/AboutDlg.h"

#include <QScreen>

#include <clocale>

#include "Version.h"

#include "serial/SerialPort.h"
#include "ui/DialogUnits.h"
#include "ui/MainWindowLayout.h"
#include "ui/MeterTestDlg.h"
#include "ui/PortSettings.h"

CMeterTestApp::CMeterTestApp(int& argc, char** argv) : QApplication(argc, argv) {
    // The desktop entry, the icon and the AppStream data are installed under this id; the desktop
    // matches the running window to its menu entry and icon by it.
    setDesktopFileName(QString::fromLatin1(kQd7AppId));
    setApplicationVersion(QString::fromLatin1(kQd7Version));
    // Every window asks for "Gulim"; without a Korean family behind it Hangul shows as boxes.
    InstallDialogFontSubstitutes();
    // Qt adopts the desktop's locale for the C library; numbers on the wire and on the panel are
    // always written with a decimal point.
    std::setlocale(LC_NUMERIC, "C");
}

void InstallAboutBox(CMeterTestDlg& dlg) {
    dlg.SetAboutBox([] {
        CAboutDlg about;
        about.exec();
    });
}

bool CMeterTestApp::InitInstance() {
    // The window opens its start port as it initialises: what that open does first and what takes
    // long runs meanwhile, while the window's controls are made.
    CSerialPort::PrepareToOpen(PortNumber(PortSettings{}));
    // And its pictures are read, for the screen it will most likely show on.
    if (const QScreen* pScreen = primaryScreen()) {
        LoadMainWindowArtworkAhead(pScreen->devicePixelRatio());
    }
    CMeterTestDlg dlg;
    InstallAboutBox(dlg);
    // OK or Cancel: the program ends either way.
    dlg.exec();
    return false;
}
