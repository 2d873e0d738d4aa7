#pragma once

#include <QPoint>
#include <QSize>

// Fixed geometry of the front panel and the sheets it is drawn from, in pixels. The artwork
// generator prints the panel to match these places, and the main window draws at them.
inline constexpr QSize kPanelSize(264, 104);
inline constexpr QPoint kValueOrigin(73, 34); // top left of the first of the five digit cells
inline constexpr int kPrintedCellCount = 5;   // unlit cells printed on the panel
inline constexpr QPoint kUnitOrigin(206, 49); // just inside the white unit frame
inline constexpr int kUnitFrameLeft = 205;    // the unit frame's lines
inline constexpr int kUnitFrameRight = 248;
inline constexpr int kUnitFrameTop = 46;
inline constexpr int kUnitFrameBottom = 67;
inline constexpr QPoint kSendLampOrigin(4, 85); // the two printed lamp bars
inline constexpr QPoint kReceiveLampOrigin(4, 91);

// Glyph sheet: three colour rows (green, red, yellow) of 13 cells.
inline constexpr int kGlyphWidth = 24;
inline constexpr int kGlyphHeight = 48;
inline constexpr int kGlyphCount = 13;
inline constexpr int kColorRowCount = 3;
inline constexpr int kPointX = 21; // the 3 x 3 decimal point inside a cell
inline constexpr int kPointY = 43;
inline constexpr int kPointSize = 3;
inline constexpr QSize kGlyphSheetSize(kGlyphWidth* kGlyphCount, kGlyphHeight* kColorRowCount);

// Lamp sheet: round lamps above (nothing draws them), four bars of 24 x 6 below.
inline constexpr int kLampBarWidth = 24;
inline constexpr int kLampBarHeight = 6;
inline constexpr int kLampBarTop = 24;
inline constexpr int kLampCount = 4;
inline constexpr QSize kLampSheetSize(kLampBarWidth* kLampCount, kLampBarTop + kLampBarHeight);
