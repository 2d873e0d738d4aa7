// What the front panel shows on the screen, not in the image behind it: drawing reaches the
// screen before the thread is held or back in its loop, and a repaint from the window system shows
// the printed panel with the value and the unit drawn again, the lamps as printed.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QExposeEvent>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <cstdlib>
#include <set>

#include "render/PanelLayout.h"
#include "tests/support/PtyMeter.h"
#include "tests/support/WindowUnderTest.h"
#include "tests/ui/ForwardingSerialOps.h"
#include "tests/ui/PanelPixels.h"
#include "ui/MeterTestDlg.h"
#include "ui/PictureCtrl.h"

namespace {

const QRect kPanel(QPoint(0, 0), kPanelSize);
// The display window and the unit frame: everything of the panel right of the lamps.
const QRect kDisplay(60, 0, 204, 104);

// An item with its text shows letters, smoothed, on its ground: more than two colours.
size_t DistinctColours(const QImage& image) {
    std::set<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            colours.insert(image.pixel(x, y));
        }
    }
    return colours.size();
}

class PanelScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(m_pty.IsOpen());
        m_pWindow = std::make_unique<CWindowUnderTest>(CWindowUnderTest::Options{
            .com1 = m_pty.SlavePath(), .pOps = std::make_unique<CForwardingSerialOps>(m_record)});
    }
    void TearDown() override { m_pWindow.reset(); }

    CWindowUnderTest& Window() { return *m_pWindow; }
    CMeterSession& Session() { return m_pWindow->Session(); }
    // What the screen shows at this moment, while the thread is busy or held.
    QImage ScreenNow(const QRect& rect = kPanel) { return OnScreen(&Window().Window(), rect); }
    // What the screen shows once the thread is back in its loop, as after a tick.
    QImage Screen(const QRect& rect = kPanel) {
        QCoreApplication::processEvents();
        return ScreenNow(rect);
    }
    const QImage& Image() { return m_pWindow->Panel(); }
    // The window system tells the window that `region` of it is to be repainted.
    void Expose(const QRegion& region) {
        QExposeEvent expose(region);
        QCoreApplication::sendEvent(Window().Window().windowHandle(), &expose);
    }
    // A reply of the selected meter 03 with this body is read, as a reply tick reads it.
    void Reply(const char* body) {
        ASSERT_TRUE(Answer(m_pty, ReplyFrame(body)));
        ASSERT_TRUE(Session().ReceiveResponse(nullptr));
    }
    // The control as it would paint itself now, against what the screen shows of it at this
    // moment (the response edit reaches past the window's bottom edge).
    bool ShowsCurrentLook(QWidget* pControl) {
        const QRect visible = pControl->geometry().intersected(Window().Window().rect());
        const QImage look = pControl->grab().toImage().convertToFormat(QImage::Format_RGB32);
        return ScreenNow(visible) == look.copy(visible.translated(-pControl->pos()));
    }

    PtyPair m_pty;
    CForwardingSerialOps::Record m_record;
    std::unique_ptr<CWindowUnderTest> m_pWindow;
};

TEST_F(PanelScreenTest, WindowSystemRepaintShowsThePrintedPanelWithValueAndUnit) {
    Session().UpdateAddressList(3, true);
    Reply("03RD0P0-0012342");
    Window().View().DrawLamp(Lamp::Send, LampColour::Green);
    Window().View().DrawLamp(Lamp::Receive, LampColour::Yellow);
    Session().DrawFrontPanel();
    ASSERT_TRUE(ShowsLamp(Screen(), kReceiveLampOrigin, LampYellow));

    // The window's own repaints (here everything, synchronously) leave the drawing alone.
    Window().Window().repaint();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ShowsLamp(Screen(), kReceiveLampOrigin, LampYellow));
    EXPECT_TRUE(ShowsLamp(Screen(), kSendLampOrigin, LampGreen));

    // Uncovered beside the picture: the picture is not repainted, the lamps stay lit.
    const QRect client = Window().Window().rect();
    Expose(QRect(0, kPanelSize.height(), client.width(), client.height() - kPanelSize.height()));
    EXPECT_TRUE(ShowsLamp(Screen(), kReceiveLampOrigin, LampYellow));

    // A cover taken away from the left half of the receive lamp only: no lamp comes back half lit
    // and half as printed. The whole picture is repainted: both lamps as printed, value and unit.
    Expose(QRect(kReceiveLampOrigin, QSize(kLampBarWidth / 2, kLampBarHeight)));
    EXPECT_EQ(Screen(), ExpectedPanel("-12.34", "Sec"));
    EXPECT_EQ(Image(), ExpectedPanel("-12.34", "Sec"));
}

TEST_F(PanelScreenTest, ExchangeIsOnScreenWheneverTheThreadIsHeld) {
    bool bSendLit = false;
    bool bTextsShown = false;
    m_record.fnBeforeWrite = [&] {
        bSendLit = ShowsLamp(ScreenNow(), kSendLampOrigin, LampGreen);
        bTextsShown =
            ShowsCurrentLook(Window().CrcLabel()) && ShowsCurrentLook(Window().TextEdit());
    };
    Window().View().DrawLamp(Lamp::Receive, LampColour::Yellow);
    ASSERT_TRUE(Session().SendRequest(3, 0, 0, 0, 0.0));
    EXPECT_TRUE(bSendLit) << "the send lamp is green on screen while the frame goes out";
    EXPECT_TRUE(bTextsShown);

    // Held by a wait for the reply, as the read-out waits: both lamps rest on screen.
    bool bRested = false;
    Window().OnSleep([&](int) {
        bRested = ShowsLamp(ScreenNow(), kSendLampOrigin, LampDarkGreen) &&
                  ShowsLamp(ScreenNow(), kReceiveLampOrigin, LampDarkGreen);
    });
    Window().View().Sleep(700);
    EXPECT_TRUE(bRested);

    // The reply read and the next request sent with no return to the loop, as the read-out does:
    // the reply's lamp, dump and value are on screen while the next frame goes out.
    Reply("03RD0P0+0001251");
    bool bReplyShown = false;
    m_record.fnBeforeWrite = [&] {
        bReplyShown = ShowsLamp(ScreenNow(), kReceiveLampOrigin, LampGreen) &&
                      ShowsCurrentLook(Window().ResponseEdit()) &&
                      ScreenNow(kDisplay) == ExpectedPanel("  12.5", "Sec").copy(kDisplay);
    };
    ASSERT_TRUE(Session().SendRequest(3, 0, 0, 1, 0.0));
    EXPECT_TRUE(bReplyShown);
    // Back in the loop: the lamps at rest.
    EXPECT_TRUE(ShowsLamp(Screen(), kSendLampOrigin, LampDarkGreen));
    EXPECT_TRUE(ShowsLamp(Screen(), kReceiveLampOrigin, LampDarkGreen));
}

// Counts the paints of the controls it watches.
class CPaintCounter : public QObject {
public:
    explicit CPaintCounter(std::initializer_list<QWidget*> controls) {
        for (QWidget* pControl : controls) {
            pControl->installEventFilter(this);
        }
    }
    int nPaints = 0;

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override {
        nPaints += pEvent->type() == QEvent::Paint ? 1 : 0;
        return QObject::eventFilter(pWatched, pEvent);
    }
};

TEST_F(PanelScreenTest, ATickThatBringsNothingNewPaintsNothing) {
    Session().UpdateAddressList(3, true);
    Reply("03RD0P0-0012342");
    Session().DrawFrontPanel();
    QCoreApplication::processEvents();
    CPaintCounter counter({Window().Picture(), Window().ResponseEdit()});
    Reply("03RD0P0-0012342");
    Session().DrawFrontPanel();
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("-12.34", "Sec").copy(kDisplay));
    EXPECT_TRUE(ShowsLamp(Screen(), kReceiveLampOrigin, LampGreen));
    EXPECT_EQ(counter.nPaints, 0);

    // A new value is drawn; the unit, clear of its cells, is left alone.
    CPaintCounter pictureCounter({Window().Picture()});
    Reply("03RD0P0-0012352");
    Session().DrawFrontPanel();
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("-12.35", "Sec").copy(kDisplay));
    EXPECT_EQ(pictureCounter.nPaints, 1);
    // A value of six cells reaches into the unit's frame: the unit is written over it again.
    Reply("03RD0P0+9999990");
    Session().DrawFrontPanel();
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("999999", "Sec").copy(kDisplay));
}

TEST_F(PanelScreenTest, TheNextTickWritesTheUnitInANewApplicationFont) {
    Session().DrawFrontPanel();
    const QFont original = QApplication::font();
    const auto restore = qScopeGuard([&original] { QApplication::setFont(original); });
    QFont larger = original;
    larger.setPixelSize(QFontInfo(original).pixelSize() + 4);
    QApplication::setFont(larger);
    Session().DrawFrontPanel();
    EXPECT_TRUE(ShowsWholeUnit(Screen(), "Sec", 1));
}

TEST_F(PanelScreenTest, NarrowerValueAndShorterUnitLeaveNoTraceOfTheEarlierOnes) {
    Session().UpdateAddressList(3, true);
    Reply("03RD0P0+9999990");
    ASSERT_STREQ(Session().DisplayText(), "999999");
    Session().DrawFrontPanel(); // the tick's redraw: the unit over the sixth cell
    Reply("03RD0P0+0000010");
    ASSERT_STREQ(Session().DisplayText(), "    1");
    // "    1" and nothing else: the frame, its legend and "Sec" whole, before any redraw.
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("    1", "Sec").copy(kDisplay));

    Session().SetUnit("s");
    Session().DrawFrontPanel();
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("    1", "s").copy(kDisplay));
}

TEST_F(PanelScreenTest, UnitsAreWrittenWholeAndLeaveNoLetterBehind) {
    for (const char* unit : kUnitsReachingOut) {
        SCOPED_TRACE(unit);
        Session().SetUnit(unit);
        Session().DrawFrontPanel();
        EXPECT_TRUE(ShowsWholeUnit(Screen(), unit, 1));
    }
    // A short unit after them: no descender or last letter of theirs is left on the panel.
    Session().SetUnit("s");
    Session().DrawFrontPanel();
    EXPECT_EQ(Screen(kDisplay), ExpectedPanel("    0", "s").copy(kDisplay));
}

TEST_F(PanelScreenTest, SystemMenuOverTheDigitsShowsItsItemsWhileTicksArrive) {
    // Ticks in quick succession while the menu is open: each redraws the value, the unit and the
    // lamps beneath it at once.
    int ticks = 0;
    QObject::connect(Window().PollTimer(), &QTimer::timeout, [&ticks] { ++ticks; });
    Window().PollTimer()->setInterval(5);
    Session().StartPolling();

    CMeterTestDlg& dlg = Window().Window();
    const QPoint digits = Window().Picture()->mapTo(&dlg, kValueOrigin + QPoint(12, 12));
    const QRect digitArea(Window().Picture()->mapToGlobal(kValueOrigin),
                          QSize(kGlyphWidth * kPrintedCellCount, kGlyphHeight));
    bool bChecked = false;
    QTimer::singleShot(0, [&] {
        auto* pMenu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        // Whatever happens below, the menu's loop ends.
        const auto closer = qScopeGuard([] {
            if (QWidget* pPopup = QApplication::activePopupWidget()) {
                pPopup->close();
            }
        });
        ASSERT_NE(pMenu, nullptr);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pMenu));
        ASSERT_TRUE(QTest::qWaitFor([&ticks] { return ticks >= 3; }, 10000));
        EXPECT_TRUE(pMenu->geometry().intersects(digitArea));

        // What the menu's window shows is the menu as it paints itself, with every item's text.
        const QImage screen = OnScreen(pMenu, pMenu->rect());
        ASSERT_FALSE(screen.isNull());
        EXPECT_EQ(screen, pMenu->grab().toImage().convertToFormat(QImage::Format_RGB32));
        QStringList items;
        for (QAction* pAction : pMenu->actions()) {
            if (pAction->isSeparator()) {
                continue;
            }
            items << pAction->text();
            EXPECT_GT(DistinctColours(screen.copy(pMenu->actionGeometry(pAction))), 2U)
                << "letters on the item " << pAction->text().toStdString();
        }
        EXPECT_EQ(items, QStringList({QStringLiteral("Close"),
                                      QString::fromUtf8("QD7Series 정보(&A)...")}));
        bChecked = true;
    });
    QContextMenuEvent event(QContextMenuEvent::Mouse, digits, dlg.mapToGlobal(digits));
    QCoreApplication::sendEvent(&dlg, &event);
    EXPECT_TRUE(bChecked);
    EXPECT_TRUE(dlg.isVisible()) << "closing the menu chose nothing";
}

} // namespace
