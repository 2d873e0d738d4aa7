#include "tests/ui/PanelPixels.h"

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
    surface.image = QImage(kPanelResource).convertToFormat(QImage::Format_RGB32);
    surface.invalidate = [](const QRect&) {};
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
