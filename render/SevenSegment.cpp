#include "render/SevenSegment.h"

#include <array>
#include <cmath>

#include "render/PanelLayout.h"

namespace {

// Centre lines of the segments in an upright digit, in pixel coordinates.
constexpr double kLeft = 5.0;
constexpr double kRight = 18.0;
constexpr double kTop = 4.0;
constexpr double kMiddle = 24.0;
constexpr double kBottom = 44.0;
constexpr double kHalfWidth = 2.0; // half the stroke of a segment
constexpr double kGap = 1.5;       // pointed ends stop this far short of a corner
constexpr double kSlant = 0.075;   // rightward lean per pixel of height

// Inside a horizontal segment on line y = c between corners at x0 and x1 (pointed ends).
bool InHorizontal(double u, double v, double c, double x0, double x1) {
    const double d = std::abs(v - c);
    return d <= kHalfWidth && u - x0 - d >= kGap && x1 - u - d >= kGap;
}

bool InVertical(double u, double v, double c, double y0, double y1) {
    const double d = std::abs(u - c);
    return d <= kHalfWidth && v - y0 - d >= kGap && y1 - v - d >= kGap;
}

//                                          .  0     1     2     3     4     5     6     7
constexpr std::array<uint8_t, 13> kLit = {0x80, 0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07,
                                          // 8   9     -     blank
                                          0x7F, 0x6F, 0x40, 0x00};

} // namespace

int SegmentAt(double u0, double v) {
    if (u0 >= kPointX && u0 < kPointX + kPointSize && v >= kPointY && v < kPointY + kPointSize) {
        return static_cast<int>(Segment::Point);
    }
    // Undo the lean, then test against the upright digit.
    const double u = u0 - kSlant * (kBottom - v);
    if (InHorizontal(u, v, kTop, kLeft, kRight)) {
        return static_cast<int>(Segment::A);
    }
    if (InVertical(u, v, kRight, kTop, kMiddle)) {
        return static_cast<int>(Segment::B);
    }
    if (InVertical(u, v, kRight, kMiddle, kBottom)) {
        return static_cast<int>(Segment::C);
    }
    if (InHorizontal(u, v, kBottom, kLeft, kRight)) {
        return static_cast<int>(Segment::D);
    }
    if (InVertical(u, v, kLeft, kMiddle, kBottom)) {
        return static_cast<int>(Segment::E);
    }
    if (InVertical(u, v, kLeft, kTop, kMiddle)) {
        return static_cast<int>(Segment::F);
    }
    if (InHorizontal(u, v, kMiddle, kLeft, kRight)) {
        return static_cast<int>(Segment::G);
    }
    return -1;
}

uint8_t LitSegments(int glyph) {
    return glyph >= 0 && glyph < kGlyphCount ? kLit[static_cast<size_t>(glyph)] : 0;
}
