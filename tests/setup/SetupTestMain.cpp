#include <gtest/gtest.h>

#include <QApplication>

#include "ui/DialogUnits.h"

int main(int argc, char** argv) {
    // Test discovery runs this without the tests' environment, and there may be no display.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    InstallDialogFontSubstitutes();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
