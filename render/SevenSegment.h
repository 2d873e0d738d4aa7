#pragma once

#include <cstdint>

// The segments of one glyph cell (24 x 48), in the usual lettering: a top, b upper right,
// c lower right, d bottom, e lower left, f upper left, g middle, then the decimal point.
enum class Segment : uint8_t { A, B, C, D, E, F, G, Point };
inline constexpr int kSegmentCount = 8;

// The segment that covers the point (u, v) of a cell, in cell pixels from its top left corner, or
// -1 for the background. The digit leans a little to the right like an LED display's; the point
// is the 3 x 3 square at 21..23, 43..45. A sheet samples it at the centre of each of its pixels,
// which at twice the resolution are the quarters of a cell pixel.
int SegmentAt(double u, double v);

// Bit s set when segment s is lit in sheet cell `glyph` (0 the point, 1..10 the digits,
// 11 the minus sign, 12 blank).
uint8_t LitSegments(int glyph);
