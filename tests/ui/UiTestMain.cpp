#include <gtest/gtest.h>

#include <QApplication>

#include "ui/DialogUnits.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (::testing::GTEST_FLAG(list_tests)) {
        // Test discovery runs at build time, possibly without a display: no Qt needed to list.
        return RUN_ALL_TESTS();
    }
    QApplication app(argc, argv);
    InstallDialogFontSubstitutes();
    return RUN_ALL_TESTS();
}
