#pragma once

#include <QImage>
#include <QPoint>

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
