// The main window on screens of every usual device pixel ratio, one screen per ratio side by side
// on the offscreen platform (each with the logical resolution of its ratio, as a desktop at
// 125 %, 150 % ... reports it). The window is moved from screen to screen as a user drags it: on
// each one the front panel is drawn for that ratio, a repaint of the changed parts of the panel
// shows what a repaint of all of it shows, and the digit cells sit on whole device pixels.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QExposeEvent>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QScreen>
#include <QWindow>

#include <array>
#include <memory>

#include "render/DeviceGrid.h"
#include "render/Palette.h"
#include "render/PanelArt.h"
#include "render/PanelLayout.h"
#include "tests/support/PtyMeter.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "tests/ui/PanelPixels.h"
#include "ui/MeterSession.h"
#include "ui/MeterTestDlg.h"
#include "ui/MeterView.h"
#include "ui/PictureCtrl.h"

namespace {

// 4/3 is what a desktop set to 128 dots per inch reports, 106/96 one set to 106: there a digit
// cell is 26.5 device pixels wide, and cells side by side are 26 and 27.
constexpr std::array kRatios = {1.0, 106.0 / 96.0, 1.25, 4.0 / 3.0, 1.5, 1.75, 2.0, 2.5, 3.0};
constexpr int kScreenWidth = 1200;

// The offscreen platform's screens, written before the test main makes the application object
// (static initialisation runs first). The file lies in the system's temporary folder for the run.
bool ConfigureScreens() {
    QJsonArray screens;
    for (size_t i = 0; i < kRatios.size(); ++i) {
        screens.append(QJsonObject{{"name", QStringLiteral("ratio-%1").arg(kRatios[i])},
                                   {"x", static_cast<int>(i) * kScreenWidth},
                                   {"y", 0},
                                   {"width", kScreenWidth},
                                   {"height", 900},
                                   {"logicalDpi", qRound(96.0 * kRatios[i])},
                                   {"logicalBaseDpi", 96},
                                   {"dpr", 1}});
    }
    static const QString path = QDir::temp().filePath(
        QStringLiteral("qd7-ratio-screens-%1.json").arg(QCoreApplication::applicationPid()));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(QJsonObject{{"screens", screens}}).toJson()) < 0) {
        return false;
    }
    static const struct Remove {
        ~Remove() { QFile::remove(path); }
    } remove;
    return qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + path.toLocal8Bit());
}
const bool kScreensConfigured = ConfigureScreens();

// The screen configured for `ratio`, whose own ratio is its dots per inch over 96 as Qt works it
// out.
QScreen* ScreenOfRatio(double ratio) {
    for (QScreen* pScreen : QGuiApplication::screens()) {
        if (qFuzzyCompare(pScreen->devicePixelRatio(), ratio)) {
            return pScreen;
        }
    }
    return nullptr;
}

const QRect kPanel(QPoint(0, 0), kPanelSize);

class DeviceRatioTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(kScreensConfigured);
        ASSERT_EQ(QGuiApplication::screens().size(), static_cast<qsizetype>(kRatios.size()));
        ASSERT_TRUE(m_pty.IsOpen());
    }

    // A main window shown on the screen of ratio 1, the one before it gone.
    void Open() {
        m_pWindow.reset();
        m_pWindow = std::make_unique<CWindowUnderTest>(CWindowUnderTest::Options{
            .com1 = m_pty.SlavePath(), .pOps = std::make_unique<CForwardingSerialOps>(m_record)});
    }

    CMeterSession& Session() { return m_pWindow->Session(); }
    CMeterTestDlg& Dlg() { return m_pWindow->Window(); }
    // The window goes to the screen of `ratio`, as when the user drags it there.
    // The window goes to the screen of `ratio`, as when the user drags it there. Returns the
    // screen's ratio exactly.
    double MoveTo(double ratio) {
        QScreen* pScreen = ScreenOfRatio(ratio);
        EXPECT_NE(pScreen, nullptr);
        if (pScreen == nullptr) {
            return 0.0;
        }
        Dlg().windowHandle()->setScreen(pScreen);
        QCoreApplication::processEvents();
        EXPECT_EQ(Dlg().windowHandle()->devicePixelRatio(), pScreen->devicePixelRatio());
        return pScreen->devicePixelRatio();
    }
    // A reply of the selected meter 03 with this body is read and the tick redraws, as polling
    // does; the drawing reaches the screen when the thread is back in its loop.
    void Show(const char* body) {
        ASSERT_TRUE(Answer(m_pty, ReplyFrame(body)));
        ASSERT_TRUE(Session().ReceiveResponse(nullptr));
        Session().DrawFrontPanel();
        QCoreApplication::processEvents();
    }
    QImage Screen() { return OnScreen(&Dlg(), kPanel); }
    // The picture as the main window paints it after a repaint from the window system, as much
    // of it as Screen() shows.
    QImage Expected(const char* value, const char* unit, double ratio) {
        return ExpectedPanel(value, unit, ratio).copy(QRect(QPoint(0, 0), Screen().size()));
    }
    // The window system has the whole window repainted (uncovered, say).
    void RepaintAll() {
        QExposeEvent expose(QRegion(Dlg().rect()));
        QCoreApplication::sendEvent(Dlg().windowHandle(), &expose);
        QCoreApplication::processEvents();
    }

    PtyPair m_pty;
    CForwardingSerialOps::Record m_record;
    std::unique_ptr<CWindowUnderTest> m_pWindow;
};

// Every device pixel of the five digit cells, and of the glass a device pixel round them, is the
// glyphs' background or the red row's lit or unlit colour: nothing smoothed or resampled. The cells
// are those drawn at the ratio for their places.
::testing::AssertionResult CellsOnDevicePixels(const QImage& screen, const CDeviceGrid& grid,
                                               const std::array<int, 5>& glyphs) {
    const QRect cells(kValueOrigin, QSize(kGlyphWidth * kPrintedCellCount, kGlyphHeight));
    const QRect around = grid.Device(cells).adjusted(-1, -1, 1, 1);
    for (int y = around.top(); y <= around.bottom(); ++y) {
        for (int x = around.left(); x <= around.right(); ++x) {
            const QRgb c = screen.pixel(x, y);
            if (c != kGlyphBackground && c != kSegmentLit[1] && c != kSegmentUnlit[1]) {
                return ::testing::AssertionFailure()
                       << "device pixel " << x << "," << y << " is " << std::hex << c;
            }
        }
    }
    for (int k = 0; k < kPrintedCellCount; ++k) {
        const QPoint at = kValueOrigin + QPoint(kGlyphWidth * k, 0);
        const QRect cell(kGlyphWidth * glyphs[static_cast<size_t>(k)], kGlyphHeight, kGlyphWidth,
                         kGlyphHeight);
        if (screen.copy(grid.Device(QRect(at, cell.size()))) !=
            DrawGlyphSheetPart(cell, grid, at)) {
            return ::testing::AssertionFailure() << "cell " << k << " is not the glyph drawn there";
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_F(DeviceRatioTest, PanelIsDrawnForEachScreensRatioAndPartialRepaintsEqualAFullOne) {
    for (const double nominal : kRatios) {
        SCOPED_TRACE(testing::Message() << "ratio " << nominal);
        Open();
        // Drawn on another screen first: that of ratio 1, or for ratio 1 that of ratio 2.
        MoveTo(nominal == 1.0 ? 2.0 : 1.0);
        Session().UpdateAddressList(3, true);
        Show("03RD0P0+0002522"); // "  2.52"
        const double ratio = MoveTo(nominal);
        ASSERT_GT(ratio, 0.0);
        // Redrawn for the screen it is on now, value and unit with it; in window pixels the
        // picture keeps its size.
        EXPECT_EQ(m_pWindow->Picture()->size(), kPanelSize);
        EXPECT_EQ(Screen(), Expected("  2.52", "Sec", ratio));

        // Narrower and wider, the point moving, the sixth cell over the unit frame, a lamp lit
        // and put out: each change repaints only what it changed.
        for (const char* body : {"03RD0P0-1234563", "03RD0P0+9999990", "03RD0P0+0001522",
                                 "03RD0P0-0000722", "03RD0P0+0000010"}) {
            Show(body);
        }
        // Units reaching beyond their cell, each written whole, then a short one in their place.
        for (const char* unit : kUnitsReachingOut) {
            Session().SetUnit(unit);
            Session().DrawFrontPanel();
            QCoreApplication::processEvents();
            EXPECT_TRUE(ShowsWholeUnit(Screen(), unit, ratio)) << unit;
        }
        Session().SetUnit("Sec");
        Session().DrawFrontPanel();
        m_pWindow->View().DrawLamp(Lamp::Receive, LampColour::Yellow);
        QCoreApplication::processEvents();
        m_pWindow->View().DrawLamp(Lamp::Receive, LampColour::DarkGreen);
        QCoreApplication::processEvents();
        const QImage partial = Screen();
        ASSERT_STREQ(Session().DisplayText(), "    1");
        EXPECT_TRUE(CellsOnDevicePixels(partial, CDeviceGrid(ratio), {12, 12, 12, 12, 2}));

        RepaintAll();
        EXPECT_EQ(partial, Screen()) << "a repaint of the changed parts differs from a full one";
        EXPECT_EQ(Screen(), Expected("    1", "Sec", ratio));

        m_pWindow.reset();
    }
}

} // namespace
