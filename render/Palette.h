#pragma once

#include <QColor>
#include <array>

// The colours that the drawing code and the artwork agree on.

// Glyph sheet: the background of every cell, and per colour row (green, red, yellow) the
// colour of a lit and of an unlit segment.
inline constexpr QRgb kGlyphBackground = qRgb(4, 4, 4);
inline constexpr std::array<QRgb, 3> kSegmentLit = {qRgb(0, 255, 0), qRgb(255, 0, 0),
                                                    qRgb(255, 255, 0)};
inline constexpr std::array<QRgb, 3> kSegmentUnlit = {qRgb(0, 51, 0), qRgb(51, 0, 0),
                                                      qRgb(51, 51, 0)};

// Lamp bars, indexed by LampState: red, green, dark green, yellow. All share one outline.
inline constexpr std::array<QRgb, 4> kLampFill = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 128, 0),
                                                  qRgb(255, 255, 0)};
inline constexpr QRgb kLampOutline = qRgb(4, 4, 4);
inline constexpr QRgb kLampHighlight = qRgb(255, 255, 255); // right column and bottom row

// DrawUnit writes white on black.
inline constexpr QRgb kUnitText = qRgb(255, 255, 255);
inline constexpr QRgb kUnitBack = qRgb(0, 0, 0);
