// The main window on a screen of device pixel ratio 2 (QT_SCALE_FACTOR=2, set before the test
// main makes the application object): the front panel and what is drawn on it come from the artwork
// drawn for that ratio, pixel for pixel, at the same places in window pixels.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "render/PanelLayout.h"
#include "render/Resources.h"
#include "tests/support/PtyPair.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/PanelPixels.h"
#include "ui/DialogUnits.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

namespace {

// Static initialisation runs before main, where the application object takes its scale factor.
const bool kScaleFactorSet = qputenv("QT_SCALE_FACTOR", "2");

TEST(HighDensityTest, PanelDecorationAndIconAreDrawnForRatioTwo) {
    ASSERT_TRUE(kScaleFactorSet);
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CWindowUnderTest window({.com1 = pty.SlavePath()});
    const CMeterTestDlg& dlg = window.Window();

    window.View().DrawValue("-12.34");
    window.View().DrawUnit("Sec");
    window.View().DrawLamp(Lamp::Send, LampColour::Green);
    QCoreApplication::processEvents(); // back in the loop, where the drawings reach the screen

    // The picture keeps its size in window pixels and shows twice as many device pixels, each
    // one the 2x artwork's: the value and the unit as drawn on the 2x panel, the 2x green bar.
    EXPECT_EQ(window.Picture()->size(), kPanelSize);
    const QImage screen = OnScreen(&dlg, QRect(QPoint(0, 0), kPanelSize));
    ASSERT_EQ(screen.size(), kPanelSize * 2);
    const QRect display(120, 0, 408, 208);
    EXPECT_EQ(screen.copy(display), ExpectedPanel("-12.34", "Sec", 2).copy(display));
    const QImage lamps =
        QImage(ArtworkPath(kLampSheetResource, 2)).convertToFormat(QImage::Format_RGB32);
    const QImage greenBar =
        lamps.copy(2 * kLampBarWidth * LampGreen, 2 * kLampBarTop, 2 * kLampBarWidth, 12);
    EXPECT_EQ(screen.copy(QRect(kSendLampOrigin * 2, greenBar.size())), greenBar);

    // The decoration and the icon are the pictures drawn for the ratio, not enlargements.
    const auto labels = dlg.findChildren<QLabel*>();
    const auto decoration = std::find_if(labels.begin(), labels.end(),
                                         [](const QLabel* p) { return !p->pixmap().isNull(); });
    ASSERT_NE(decoration, labels.end());
    EXPECT_EQ((*decoration)->pixmap().devicePixelRatio(), 2.0);
    EXPECT_EQ((*decoration)->pixmap().toImage(),
              QImage(ArtworkPath(kDecorationResource, 2))
                  .convertToFormat((*decoration)->pixmap().toImage().format()));
    EXPECT_EQ((*decoration)->size(), (*decoration)->pixmap().size() / 2);
    EXPECT_EQ(dlg.windowIcon().pixmap(QSize(32, 32)).toImage(),
              QImage(ArtworkPath(kIconResource, 2))
                  .convertToFormat(dlg.windowIcon().pixmap(QSize(32, 32)).toImage().format()));
}

TEST(HighDensityTest, UnitsAreWrittenWholeAndLeaveNoLetterBehind) {
    ASSERT_EQ(qApp->devicePixelRatio(), 2.0);
    PtyPair pty;
    ASSERT_TRUE(pty.IsOpen());
    CWindowUnderTest window({.com1 = pty.SlavePath()});
    const CMeterTestDlg& dlg = window.Window();

    const QRect panel(QPoint(0, 0), kPanelSize);
    for (const char* unit : kUnitsReachingOut) {
        SCOPED_TRACE(unit);
        window.Session().SetUnit(unit);
        window.Session().DrawFrontPanel();
        QCoreApplication::processEvents();
        EXPECT_TRUE(ShowsWholeUnit(OnScreen(&dlg, panel), unit, 2));
    }
    window.Session().SetUnit("s");
    window.Session().DrawFrontPanel();
    QCoreApplication::processEvents();
    EXPECT_EQ(OnScreen(&dlg, panel), ExpectedPanel("    0", "s", 2));
}

} // namespace
