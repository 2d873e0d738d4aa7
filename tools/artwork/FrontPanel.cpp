#include <QLinearGradient>
#include <QPainter>

#include "render/Palette.h"
#include "render/PanelLayout.h"
#include "tools/artwork/Artwork.h"
#include "tools/artwork/StrokeFont.h"

namespace {

// The smoked display window, recessed into the face; its glass is the glyphs' background so
// that the printed cells sit in it without a seam.
constexpr QRect kWindow(63, 26, 194, 62);
constexpr QColor kPrint(226, 228, 232); // white printing on the face
constexpr QColor kPrintDim(150, 153, 160);

void DrawBezel(QPainter& painter) {
    const QRect all(QPoint(0, 0), kPanelSize);
    QLinearGradient body(0, 0, 0, all.height());
    body.setColorAt(0.0, QColor(74, 76, 82));
    body.setColorAt(1.0, QColor(34, 35, 39));
    painter.fillRect(all, body);
    // Moulded edge: dark rim, light top and left, shadowed bottom and right.
    painter.setPen(QColor(10, 10, 12));
    painter.drawRect(all.adjusted(0, 0, -1, -1));
    painter.setPen(QColor(118, 121, 128));
    painter.drawLine(1, 1, all.width() - 3, 1);
    painter.drawLine(1, 1, 1, all.height() - 3);
    painter.setPen(QColor(18, 18, 21));
    painter.drawLine(2, all.height() - 2, all.width() - 2, all.height() - 2);
    painter.drawLine(all.width() - 2, 2, all.width() - 2, all.height() - 2);
    // The matte face plate inside the rim.
    const QRect face = all.adjusted(3, 3, -3, -3);
    QLinearGradient matte(0, face.top(), 0, face.bottom());
    matte.setColorAt(0.0, QColor(50, 52, 57));
    matte.setColorAt(1.0, QColor(29, 30, 33));
    painter.fillRect(face, matte);
    painter.setPen(QColor(16, 16, 18));
    painter.drawLine(face.topLeft(), face.topRight());
    painter.drawLine(face.topLeft(), face.bottomLeft());
    painter.setPen(QColor(84, 86, 92));
    painter.drawLine(face.bottomLeft(), face.bottomRight());
    painter.drawLine(face.topRight(), face.bottomRight());
}

void DrawWindow(QPainter& painter) {
    // Two-pixel recess: shadow on the upper and left sides, a light lip below and at the right.
    const QRect outer = kWindow.adjusted(-2, -2, 2, 2);
    painter.fillRect(outer, QColor(12, 12, 14));
    painter.setPen(QColor(96, 99, 106));
    painter.drawLine(outer.left() + 1, outer.bottom(), outer.right(), outer.bottom());
    painter.drawLine(outer.right(), outer.top() + 1, outer.right(), outer.bottom());
    painter.setPen(QColor(58, 60, 65));
    painter.drawLine(outer.left() + 2, outer.bottom() - 1, outer.right() - 1, outer.bottom() - 1);
    painter.drawLine(outer.right() - 1, outer.top() + 2, outer.right() - 1, outer.bottom() - 1);
    painter.fillRect(kWindow, QColor(kGlyphBackground));
}

void DrawUnitFrame(QPainter& painter) {
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setPen(QColor(255, 255, 255));
    painter.drawLine(kUnitFrameLeft, kUnitFrameTop, kUnitFrameRight, kUnitFrameTop);
    painter.drawLine(kUnitFrameLeft, kUnitFrameBottom, kUnitFrameRight, kUnitFrameBottom);
    painter.drawLine(kUnitFrameLeft, kUnitFrameTop, kUnitFrameLeft, kUnitFrameBottom);
    painter.drawLine(kUnitFrameRight, kUnitFrameTop, kUnitFrameRight, kUnitFrameBottom);
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

void Paste(QImage& panel, QPoint at, const QImage& sheet, const QRect& from) {
    QPainter painter(&panel);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(at, sheet, from);
}

} // namespace

QImage MakeFrontPanel(const QImage& glyphSheet, const QImage& lampSheet) {
    QImage panel(kPanelSize, QImage::Format_RGB32);
    {
        QPainter painter(&panel);
        DrawBezel(painter);
        DrawWindow(painter);
        DrawLegends(painter);
        DrawUnitCaption(painter);
        DrawUnitFrame(painter);
    }
    // The unlit cells are the red row's blank glyph, the printed bars the dark green bar.
    const QRect blank(kGlyphWidth * 12, kGlyphHeight * 1, kGlyphWidth, kGlyphHeight);
    for (int k = 0; k < kPrintedCellCount; ++k) {
        Paste(panel, kValueOrigin + QPoint(kGlyphWidth * k, 0), glyphSheet, blank);
    }
    const QRect darkGreen(kLampBarWidth * 2, kLampBarTop, kLampBarWidth, kLampBarHeight);
    Paste(panel, kSendLampOrigin, lampSheet, darkGreen);
    Paste(panel, kReceiveLampOrigin, lampSheet, darkGreen);
    return panel;
}
