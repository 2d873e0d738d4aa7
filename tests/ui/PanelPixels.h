#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

class QWidget;

// Checks of what the front panel shows, against the artwork the renderers copy from.

// The glyph cell `cell` (0 point, 1..10 digits, 11 minus, 12 blank) of colour row `row`.
QImage GlyphCell(int cell, int row);

// True when the 24 x 48 area of `panel` at `origin` shows exactly that cell.
bool ShowsGlyph(const QImage& panel, QPoint origin, int cell, int row);

// The lamp bar of `state` (0..3) as the lamp sheet has it.
QImage LampBar(int state);
bool ShowsLamp(const QImage& panel, QPoint origin, int state);

// The panel's five digit cells as the digit display draws `text` in red on a fresh panel.
QImage ExpectedValueCells(const char* text);
// The same five cells of `panel`.
QImage ValueCells(const QImage& panel);

// The whole picture as the main window paints it after the window system repainted it: the
// printed panel drawn for `scale`, the value in red and the unit, the lamps as printed. In device
// pixels.
QImage ExpectedPanel(const char* value, const char* unit, int scale = 1);

// What the screen shows of `rect` (window pixels) of the top-level window `pWindow`: the pixels
// handed to the window system, not a fresh rendering of the widgets. In device pixels.
QImage OnScreen(const QWidget* pWindow, const QRect& rect);
