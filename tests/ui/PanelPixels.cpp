#include "tests/ui/PanelPixels.h"

#include <QBackingStore>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPaintDevice>
#include <QPainter>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <cmath>

#include "render/DigitDisplay.h"
#include "render/PanelLayout.h"
#include "render/Resources.h"

namespace {

const QImage& Sheet(const char* path) {
    static QImage glyphs = QImage(kGlyphSheetResource).convertToFormat(QImage::Format_RGB32);
    static QImage lamps = QImage(kLampSheetResource).convertToFormat(QImage::Format_RGB32);
    return path == kGlyphSheetResource ? glyphs : lamps;
}

bool SameArea(const QImage& panel, QPoint origin, const QImage& expected) {
    const QImage area =
        panel.copy(QRect(origin, expected.size())).convertToFormat(QImage::Format_RGB32);
    return !expected.isNull() && area == expected;
}

} // namespace

QImage GlyphCell(int cell, int row) {
    return Sheet(kGlyphSheetResource)
        .copy(cell * kGlyphWidth, row * kGlyphHeight, kGlyphWidth, kGlyphHeight);
}

bool ShowsGlyph(const QImage& panel, QPoint origin, int cell, int row) {
    return SameArea(panel, origin, GlyphCell(cell, row));
}

QImage LampBar(int state) {
    return Sheet(kLampSheetResource)
        .copy(state * kLampBarWidth, kLampBarTop, kLampBarWidth, kLampBarHeight);
}

bool ShowsLamp(const QImage& panel, QPoint origin, int state) {
    return SameArea(panel, origin, LampBar(state));
}

int ScreenDpi() {
    return qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY());
}

QImage ExpectedValueCells(const char* text) {
    CPictureSurface surface;
    surface.panel = LoadSurfacePicture(QString::fromLatin1(kPanelResource), 1, ScreenDpi());
    surface.image = surface.panel;
    CDigitDisplay display;
    display.Attach(&surface);
    display.m_nColorRow = 1;
    display.DrawValue(kValueOrigin.x(), kValueOrigin.y(), text);
    display.Detach();
    return ValueCells(surface.image);
}

QImage ValueCells(const QImage& panel) {
    return panel.copy(QRect(kValueOrigin, QSize(kGlyphWidth * kPrintedCellCount, kGlyphHeight)))
        .convertToFormat(QImage::Format_RGB32);
}

QImage ExpectedPanel(const char* value, const char* unit, double ratio) {
    CPictureSurface surface;
    surface.dRatio = ratio;
    surface.panel = LoadSurfacePicture(QString::fromLatin1(kPanelResource), ratio, ScreenDpi());
    surface.image = surface.panel;
    CDigitDisplay display;
    display.Attach(&surface);
    display.m_nColorRow = 1;
    display.DrawValue(kValueOrigin.x(), kValueOrigin.y(), value);
    display.DrawUnit(kUnitOrigin.x(), kUnitOrigin.y(), unit);
    display.Detach();
    return surface.image;
}

QImage OnScreen(const QWidget* pWindow, const QRect& rect) {
    // The window's backing store: what the window system is given to show. (The offscreen
    // platform's own screen grab is cut to the window's size in window pixels.)
    QBackingStore* pStore = pWindow->backingStore();
    if (pStore == nullptr || pStore->paintDevice() == nullptr ||
        pStore->paintDevice()->devType() != QInternal::Image) {
        return {};
    }
    const auto* pImage = static_cast<const QImage*>(pStore->paintDevice());
    // The window's own ratio: a widget's is rounded to four decimals.
    const qreal ratio = pWindow->windowHandle() != nullptr
                            ? pWindow->windowHandle()->devicePixelRatio()
                            : pWindow->devicePixelRatioF();
    // The device pixels wholly inside the rectangle: at a ratio that puts its edge inside a device
    // pixel, the window system gives that pixel to one side or the other.
    const auto device = [ratio](int v) { return static_cast<int>(std::floor(v * ratio + 1e-9)); };
    const QPoint topLeft(device(rect.left()), device(rect.top()));
    const QPoint end(device(rect.left() + rect.width()), device(rect.top() + rect.height()));
    QImage image = pImage->copy(QRect(topLeft, QSize(end.x() - topLeft.x(), end.y() - topLeft.y())))
                       .convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    return image;
}

::testing::AssertionResult ShowsWholeUnit(const QImage& screen, const char* unit, double ratio) {
    QImage reference(screen.size(), QImage::Format_RGB32);
    reference.fill(Qt::black);
    reference.setDevicePixelRatio(ratio);
    const int dotsPerMetre = qRound(ScreenDpi() / 0.0254);
    reference.setDotsPerMeterX(dotsPerMetre);
    reference.setDotsPerMeterY(dotsPerMetre);
    {
        QPainter painter(&reference);
        painter.setFont(QGuiApplication::font());
        painter.setPen(Qt::white);
        const QFontMetricsF metrics(painter.font(), &reference);
        painter.drawText(QPointF(kUnitOrigin.x(), kUnitOrigin.y() + metrics.ascent()),
                         QString::fromUtf8(unit));
    }
    reference.setDevicePixelRatio(1.0);
    // Letters on the panel beyond the black cell are blended with what lies there, which is never
    // darker than black: on screen each ink pixel is at least as bright as in the reference.
    constexpr int kInk = 32;
    constexpr int kTolerance = 8;
    int inked = 0;
    int missing = 0;
    QRect where;
    for (int y = 0; y < reference.height(); ++y) {
        for (int x = 0; x < reference.width(); ++x) {
            const int ink = qGray(reference.pixel(x, y));
            if (ink < kInk) {
                continue;
            }
            ++inked;
            if (!screen.valid(x, y) || qGray(screen.pixel(x, y)) < ink - kTolerance) {
                ++missing;
                where |= QRect(x, y, 1, 1);
            }
        }
    }
    if (inked == 0) {
        return ::testing::AssertionFailure() << "the reference drawing has no ink";
    }
    if (missing > 0) {
        return ::testing::AssertionFailure()
               << missing << " of " << inked << " ink pixels missing, within x " << where.left()
               << ".." << where.right() << ", y " << where.top() << ".." << where.bottom()
               << " (device pixels)";
    }
    return ::testing::AssertionSuccess();
}
