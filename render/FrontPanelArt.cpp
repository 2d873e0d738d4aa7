#include <QLinearGradient>
#include <QPainter>
#include <algorithm>

#include "render/Palette.h"
#include "render/PanelArt.h"
#include "render/PanelLayout.h"
#include "render/StrokeFont.h"

namespace {

// The smoked display window, recessed into the face; its glass is the glyphs' background so
// that the printed cells sit in it without a seam.
constexpr QRect kWindow(63, 26, 194, 62);
constexpr QColor kPrint(226, 228, 232); // white printing on the face
constexpr QColor kPrintDim(150, 153, 160);

// One-pixel lines as filled rectangles, from (x0, y0) to (x1, y1) inclusive, horizontal or
// vertical: they land on whole pixels of the picture at any scale, where a scaled pen would
// straddle two.
void Line(QPainter& painter, int x0, int y0, int x1, int y1, const QColor& color) {
    painter.fillRect(QRect(QPoint(std::min(x0, x1), std::min(y0, y1)),
                           QPoint(std::max(x0, x1), std::max(y0, y1))),
                     color);
}

// The outline of `rect` one pixel wide, inside it.
void Outline(QPainter& painter, const QRect& rect, const QColor& color) {
    Line(painter, rect.left(), rect.top(), rect.right(), rect.top(), color);
    Line(painter, rect.left(), rect.bottom(), rect.right(), rect.bottom(), color);
    Line(painter, rect.left(), rect.top(), rect.left(), rect.bottom(), color);
    Line(painter, rect.right(), rect.top(), rect.right(), rect.bottom(), color);
}

void DrawBezel(QPainter& painter) {
    const QRect all(QPoint(0, 0), kPanelSize);
    QLinearGradient body(0, 0, 0, all.height());
    body.setColorAt(0.0, QColor(74, 76, 82));
    body.setColorAt(1.0, QColor(34, 35, 39));
    painter.fillRect(all, body);
    // Moulded edge: dark rim, light top and left, shadowed bottom and right.
    Outline(painter, all, QColor(10, 10, 12));
    const QColor light(118, 121, 128);
    Line(painter, 1, 1, all.width() - 3, 1, light);
    Line(painter, 1, 1, 1, all.height() - 3, light);
    const QColor shadow(18, 18, 21);
    Line(painter, 2, all.height() - 2, all.width() - 2, all.height() - 2, shadow);
    Line(painter, all.width() - 2, 2, all.width() - 2, all.height() - 2, shadow);
    // The matte face plate inside the rim.
    const QRect face = all.adjusted(3, 3, -3, -3);
    QLinearGradient matte(0, face.top(), 0, face.bottom());
    matte.setColorAt(0.0, QColor(50, 52, 57));
    matte.setColorAt(1.0, QColor(29, 30, 33));
    painter.fillRect(face, matte);
    const QColor faceDark(16, 16, 18);
    Line(painter, face.left(), face.top(), face.right(), face.top(), faceDark);
    Line(painter, face.left(), face.top(), face.left(), face.bottom(), faceDark);
    const QColor faceLight(84, 86, 92);
    Line(painter, face.left(), face.bottom(), face.right(), face.bottom(), faceLight);
    Line(painter, face.right(), face.top(), face.right(), face.bottom(), faceLight);
}

void DrawWindow(QPainter& painter) {
    // Two-pixel recess: shadow on the upper and left sides, a light lip below and at the right.
    const QRect outer = kWindow.adjusted(-2, -2, 2, 2);
    painter.fillRect(outer, QColor(12, 12, 14));
    const QColor lip(96, 99, 106);
    Line(painter, outer.left() + 1, outer.bottom(), outer.right(), outer.bottom(), lip);
    Line(painter, outer.right(), outer.top() + 1, outer.right(), outer.bottom(), lip);
    const QColor inner(58, 60, 65);
    Line(painter, outer.left() + 2, outer.bottom() - 1, outer.right() - 1, outer.bottom() - 1,
         inner);
    Line(painter, outer.right() - 1, outer.top() + 2, outer.right() - 1, outer.bottom() - 1, inner);
    painter.fillRect(kWindow, QColor(kGlyphBackground));
}

void DrawUnitFrame(QPainter& painter) {
    Outline(painter,
            QRect(QPoint(kUnitFrameLeft, kUnitFrameTop), QPoint(kUnitFrameRight, kUnitFrameBottom)),
            QColor(255, 255, 255));
}

void DrawLegends(QPainter& painter) {
    // Brand and series at the upper left.
    const StrokeStyle brand{15.0, 2.6, 1.0, kPrint};
    DrawStrokeText(painter, QPointF(11.5, 12.5), "QD7", brand);
    const StrokeStyle series{5.0, 1.0, 1.6, kPrintDim};
    DrawStrokeText(painter, QPointF(12.5, 33.5), "SERIES", series);
    // The instrument's function above the display window, flush with its right edge.
    const StrokeStyle legend{8.0, 1.45, 1.4, kPrint};
    const char* kLegend = "PULSE METER";
    const double width = StrokeTextWidth(kLegend, legend);
    DrawStrokeText(painter, QPointF(kWindow.right() + 1 - width, 10.5), kLegend, legend);
    // A red rule under the brand, as on the maker's other front panels.
    painter.fillRect(QRectF(11, 44, 46, 2), QColor(200, 24, 24));
    const StrokeStyle interface { 5.0, 1.0, 1.2, kPrintDim };
    DrawStrokeText(painter, QPointF(12.5, 51.5), "RS485", interface);
    // The activity label over the two lamp bars, and what each bar shows.
    const StrokeStyle label{5.0, 1.0, 1.0, kPrint};
    DrawStrokeText(painter, QPointF(kSendLampOrigin.x() + 1.5, 76.5), "COMM", label);
    const StrokeStyle tag{5.0, 1.0, 0.6, kPrintDim};
    DrawStrokeText(painter,
                   QPointF(kSendLampOrigin.x() + kLampBarWidth + 4.5, kSendLampOrigin.y() + 0.5),
                   "TX", tag);
    DrawStrokeText(
        painter,
        QPointF(kReceiveLampOrigin.x() + kLampBarWidth + 4.5, kReceiveLampOrigin.y() + 0.5), "RX",
        tag);
}

// A dim caption printed on the glass above the unit frame.
void DrawUnitCaption(QPainter& painter) {
    const StrokeStyle caption{4.0, 0.9, 0.8, QColor(92, 94, 100)};
    DrawStrokeText(painter, QPointF(kUnitFrameLeft + 0.5, kUnitFrameTop - 8.5), "UNIT", caption);
}

// Prints the part of a sheet drawn for `at` at its place on the panel.
void Print(QImage& panel, const CDeviceGrid& grid, QPoint at, const QImage& part) {
    QPainter painter(&panel);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(QPoint(grid.Device(at.x()), grid.Device(at.y())), part);
}

} // namespace

QImage MakeFrontPanel(double ratio) {
    const CDeviceGrid grid(ratio);
    QImage panel(grid.DeviceSize(kPanelSize), QImage::Format_RGB32);
    // The rim's colour where a last column or row of device pixels holds no picture pixel's
    // centre.
    panel.fill(QColor(10, 10, 12));
    {
        QPainter painter(&panel);
        painter.scale(grid.Ratio(), grid.Ratio());
        DrawBezel(painter);
        DrawWindow(painter);
        DrawLegends(painter);
        DrawUnitCaption(painter);
        DrawUnitFrame(painter);
    }
    // The unlit cells are the red row's blank glyph, the printed bars the dark green bar.
    const QRect blank(kGlyphWidth * 12, kGlyphHeight * 1, kGlyphWidth, kGlyphHeight);
    for (int k = 0; k < kPrintedCellCount; ++k) {
        const QPoint at = kValueOrigin + QPoint(kGlyphWidth * k, 0);
        Print(panel, grid, at, DrawGlyphSheetPart(blank, grid, at));
    }
    const QRect darkGreen(kLampBarWidth * 2, kLampBarTop, kLampBarWidth, kLampBarHeight);
    for (const QPoint at : {kSendLampOrigin, kReceiveLampOrigin}) {
        Print(panel, grid, at, DrawLampSheetPart(darkGreen, grid, at));
    }
    return panel;
}
