#include "tests/ui/PanelPixels.h"

#include <QBackingStore>
#include <QPaintDevice>
#include <QWidget>

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

QImage ExpectedValueCells(const char* text) {
    CPictureSurface surface;
    surface.panel = QImage(kPanelResource).convertToFormat(QImage::Format_RGB32);
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

QImage ExpectedPanel(const char* value, const char* unit, int scale) {
    CPictureSurface surface;
    surface.nScale = scale;
    surface.panel =
        QImage(ArtworkPath(kPanelResource, scale)).convertToFormat(QImage::Format_RGB32);
    surface.panel.setDevicePixelRatio(1.0);
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
    const int scale = qRound(pWindow->devicePixelRatioF());
    QImage image = pImage->copy(QRect(rect.topLeft() * scale, rect.size() * scale))
                       .convertToFormat(QImage::Format_RGB32);
    image.setDevicePixelRatio(1.0);
    return image;
}
