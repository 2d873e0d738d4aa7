#include "render/Palette.h"
#include "render/PanelLayout.h"
#include "tools/artwork/Artwork.h"
#include "tools/artwork/SevenSegment.h"

// Pixel by pixel from the segment map, with no smoothing: every pixel of a cell is exactly the
// background, the row's unlit colour or its lit colour. At `scale` 2 the map is sampled four
// times per cell pixel, so the segments keep their shapes with finer edges.
QImage MakeGlyphSheet(int scale) {
    QImage sheet(kGlyphSheetSize * scale, QImage::Format_RGB32);
    const int cellWidth = kGlyphWidth * scale;
    const int cellHeight = kGlyphHeight * scale;
    for (int row = 0; row < kColorRowCount; ++row) {
        for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
            const uint8_t lit = LitSegments(glyph);
            for (int y = 0; y < cellHeight; ++y) {
                for (int x = 0; x < cellWidth; ++x) {
                    const int segment = SegmentAt((x + 0.5) / scale, (y + 0.5) / scale);
                    QRgb color = kGlyphBackground;
                    if (segment >= 0) {
                        color = (lit >> segment) & 1U ? kSegmentLit[static_cast<size_t>(row)]
                                                      : kSegmentUnlit[static_cast<size_t>(row)];
                    }
                    sheet.setPixel(glyph * cellWidth + x, row * cellHeight + y, color);
                }
            }
        }
    }
    return sheet;
}
