#include <algorithm>
#include <cmath>

#include "render/Palette.h"
#include "render/PanelArt.h"
#include "render/PanelLayout.h"
#include "render/SevenSegment.h"

namespace {

// The colour of the sheet at (u, v), picture pixels within the cell (glyph, row).
QRgb GlyphColour(int glyph, int row, double u, double v) {
    const int segment = SegmentAt(u, v);
    if (segment < 0) {
        return kGlyphBackground;
    }
    const auto r = static_cast<size_t>(row);
    return (LitSegments(glyph) >> segment) & 1U ? kSegmentLit[r] : kSegmentUnlit[r];
}

} // namespace

QImage DrawGlyphSheetPart(const QRect& part, const CDeviceGrid& grid, QPoint at) {
    const QRect device = grid.Device(QRect(at, part.size()));
    QImage image(device.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    const QPointF phase = grid.Phase(at);
    const double ratio = grid.Ratio();
    for (int y = 0; y < image.height(); ++y) {
        // How far into the part the centre of this row of device pixels lies, then the cell it
        // falls in and where in the cell.
        const double dv = (y + 0.5 + phase.y()) / ratio;
        const int row = static_cast<int>(std::floor((part.top() + dv) / kGlyphHeight));
        const double v = (part.top() - row * kGlyphHeight) + dv;
        auto* pLine = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const double du = (x + 0.5 + phase.x()) / ratio;
            const int glyph = static_cast<int>(std::floor((part.left() + du) / kGlyphWidth));
            const double u = (part.left() - glyph * kGlyphWidth) + du;
            pLine[x] =
                row >= 0 && row < kColorRowCount ? GlyphColour(glyph, row, u, v) : kGlyphBackground;
        }
    }
    return image;
}

// At `scale` 2 the map is sampled four times per cell pixel, so the segments keep their shapes
// with finer edges.
QImage MakeGlyphSheet(int scale) {
    const CDeviceGrid grid(scale);
    QImage sheet(kGlyphSheetSize * scale, QImage::Format_RGB32);
    for (int row = 0; row < kColorRowCount; ++row) {
        for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
            const QRect cell(kGlyphWidth * glyph, kGlyphHeight * row, kGlyphWidth, kGlyphHeight);
            const QImage drawn = DrawGlyphSheetPart(cell, grid, cell.topLeft());
            const QPoint to = grid.Device(cell).topLeft();
            for (int y = 0; y < drawn.height(); ++y) {
                std::copy_n(reinterpret_cast<const QRgb*>(drawn.constScanLine(y)), drawn.width(),
                            reinterpret_cast<QRgb*>(sheet.scanLine(to.y() + y)) + to.x());
            }
        }
    }
    return sheet;
}
