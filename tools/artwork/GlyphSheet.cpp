#include "render/Palette.h"
#include "render/PanelLayout.h"
#include "tools/artwork/Artwork.h"
#include "tools/artwork/SevenSegment.h"

// Pixel by pixel from the segment map, with no smoothing: every pixel of a cell is exactly the
// background, the row's unlit colour or its lit colour.
QImage MakeGlyphSheet() {
    QImage sheet(kGlyphSheetSize, QImage::Format_RGB32);
    for (int row = 0; row < kColorRowCount; ++row) {
        for (int glyph = 0; glyph < kGlyphCount; ++glyph) {
            const uint8_t lit = LitSegments(glyph);
            for (int y = 0; y < kGlyphHeight; ++y) {
                for (int x = 0; x < kGlyphWidth; ++x) {
                    const int segment = SegmentAt(x, y);
                    QRgb color = kGlyphBackground;
                    if (segment >= 0) {
                        color = (lit >> segment) & 1U ? kSegmentLit[static_cast<size_t>(row)]
                                                      : kSegmentUnlit[static_cast<size_t>(row)];
                    }
                    sheet.setPixel(glyph * kGlyphWidth + x, row * kGlyphHeight + y, color);
                }
            }
        }
    }
    return sheet;
}
