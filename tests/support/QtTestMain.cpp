// The main of every Qt test binary: an application object on the offscreen platform unless the
// environment names another, the dialog font's substitutes, then the tests. The same at test
// discovery, which runs the binary at build time without the tests' environment and perhaps
// without a display.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/DialogUnits.h"

int main(int argc, char** argv) {
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    InstallDialogFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
