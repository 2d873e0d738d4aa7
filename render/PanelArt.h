#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

#include "render/DeviceGrid.h"

// The front panel's art, drawn for any device pixel ratio: the panel itself, and any part of the
// glyph sheet or the lamp sheet as it looks where it lands. The pictures in res/ are these
// drawings at ratios 1 and 2; at other ratios the program draws what it shows from here, so
// nothing on the panel is an enlargement or a reduction of another ratio's picture.
//
// A part of a sheet drawn for the picture position `at` on `grid` holds the device pixels that
// grid.Device(QRect(at, part.size())) covers, each sampled at its centre: cell edges fall on
// device pixels, a drawing depends on where it lands only through grid.Phase(at), and the same
// arguments give the same pixels every time, so a part copied onto a printed one matches it.

// Glyph sheet, resource 137 (312 x 144 picture pixels): three colour rows of 13 cells, pixel by
// pixel from the segment map with no smoothing, every pixel the background, the row's unlit
// colour or its lit colour.
QImage DrawGlyphSheetPart(const QRect& part, const CDeviceGrid& grid, QPoint at);
// Lamp sheet, resource 138 (96 x 30): the round lamps, which nothing copies, and below them the
// four bars, a pixel design whose every picture pixel is the device pixels it holds.
QImage DrawLampSheetPart(const QRect& part, const CDeviceGrid& grid, QPoint at);

// The whole sheets for a whole `scale`, as res/ holds them.
QImage MakeGlyphSheet(int scale = 1);
QImage MakeLampSheet(int scale = 1);

// Resource 135, 264 x 104 picture pixels, drawn at `ratio`; its size is what the window system
// gives a picture of that size (CDeviceGrid::DeviceSize). The printed digit cells and lamp bars
// are the sheets' parts drawn for their places, so that they are pixel-identical to a blank glyph
// and to a dark green bar copied there.
QImage MakeFrontPanel(double ratio = 1.0);
