#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <array>
#include <gtest/gtest.h>

class QWidget;

// Checks of what the front panel shows, against the artwork the renderers copy from.

// The glyph cell `cell` (0 point, 1..10 digits, 11 minus, 12 blank) of colour row `row`.
QImage GlyphCell(int cell, int row);

// True when the 24 x 48 area of `panel` at `origin` shows exactly that cell.
bool ShowsGlyph(const QImage& panel, QPoint origin, int cell, int row);

// The lamp bar of `state` (0..3) as the lamp sheet has it.
QImage LampBar(int state);
bool ShowsLamp(const QImage& panel, QPoint origin, int state);

// The logical resolution of the screen the tests' windows show on, in dots per inch.
int ScreenDpi();

// The panel's five digit cells as the digit display draws `text` in red on a fresh panel.
QImage ExpectedValueCells(const char* text);
// The same five cells of `panel`.
QImage ValueCells(const QImage& panel);

// The whole picture as the main window paints it after the window system repainted it: the
// printed panel drawn for `ratio`, the value in red and the unit, the lamps as printed. In device
// pixels.
QImage ExpectedPanel(const char* value, const char* unit, double ratio = 1.0);

// What the screen shows of `rect` (window pixels) of the top-level window `pWindow`: the pixels
// handed to the window system, not a fresh rendering of the widgets. In device pixels, those wholly
// inside the rectangle.
QImage OnScreen(const QWidget* pWindow, const QRect& rect);

// Units (UTF-8) whose letters reach below the baseline, past their advance ("kgf") or above the
// font's ascent ("Å"), and letters that come from a fallback font.
inline constexpr std::array<const char*, 6> kUnitsReachingOut = {"kg/day", "gjpqy|", "m³/h",
                                                                 "초/h Ω", "kgf",    "Å"};

// Success when `screen` (the picture in device pixels at `ratio`) shows every ink pixel of a
// reference drawing of `unit` at the unit's place: the reference is written white on black in
// the application's font at the screen's resolution, unclipped, as a label on a window of that
// ratio would write it. Otherwise the failure names the pixels missing.
::testing::AssertionResult ShowsWholeUnit(const QImage& screen, const char* unit, double ratio);
