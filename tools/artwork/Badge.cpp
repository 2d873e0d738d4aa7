#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <array>

#include "render/Palette.h"
#include "render/SevenSegment.h"
#include "render/StrokeFont.h"
#include "tools/artwork/Artwork.h"

namespace {

// 54 x 20 dialog units at the base units of the dialog font as installed here (Gulim 9 pt
// resolves to NanumBarunGothic: 7 x 12 pixels, 94.5 x 30 rounded up), so the badge fills its
// place.
constexpr QSize kDecorationSize(95, 30);
constexpr QSize kIconSize(32, 32);

// A small graphite plate with a rounded outline, the frame of both badges.
void DrawPlate(QPainter& painter, const QRectF& plate, double radius) {
    QLinearGradient body(0, plate.top(), 0, plate.bottom());
    body.setColorAt(0.0, QColor(82, 85, 92));
    body.setColorAt(0.5, QColor(46, 48, 53));
    body.setColorAt(1.0, QColor(26, 27, 30));
    painter.setPen(QPen(QColor(10, 10, 12), 1.0));
    painter.setBrush(body);
    painter.drawRoundedRect(plate, radius, radius);
    painter.setPen(QPen(QColor(150, 154, 162, 150), 1.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(plate.adjusted(1, 1, -1, -1), radius - 1, radius - 1);
}

// One seven-segment digit of the icon, 7 x 13 pixels with strokes of 2, on whole pixels so that
// it stays sharp at icon size.
void DrawIconDigit(QPainter& painter, QPoint at, uint8_t lit) {
    const std::array<QRect, 7> bars = {
        QRect(at.x() + 1, at.y(), 5, 2),      // a
        QRect(at.x() + 5, at.y() + 1, 2, 5),  // b
        QRect(at.x() + 5, at.y() + 7, 2, 5),  // c
        QRect(at.x() + 1, at.y() + 11, 5, 2), // d
        QRect(at.x(), at.y() + 7, 2, 5),      // e
        QRect(at.x(), at.y() + 1, 2, 5),      // f
        QRect(at.x() + 1, at.y() + 6, 5, 1),  // g
    };
    for (size_t s = 0; s < bars.size(); ++s) {
        painter.fillRect(bars[s], (lit >> s) & 1U ? QColor(kSegmentLit[1]) : QColor(48, 4, 4));
    }
}

} // namespace

QImage MakeDecoration(int scale) {
    QImage image(kDecorationSize * scale, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawPlate(painter,
              QRectF(0.5, 0.5, kDecorationSize.width() - 1.0, kDecorationSize.height() - 1.0), 4.0);
    DrawStrokeText(painter, QPointF(7.5, 7.5), "QD7", StrokeStyle{13.0, 2.4, 0.9, Qt::white});
    painter.fillRect(QRectF(45, 7, 1, 14), QColor(120, 124, 132));
    const QColor light(205, 208, 214);
    DrawStrokeText(painter, QPointF(50.5, 7.5), "SERIES", StrokeStyle{5.0, 1.0, 0.8, light});
    DrawStrokeText(painter, QPointF(50.5, 15.5), "RS485", StrokeStyle{5.0, 1.0, 0.8, light});
    painter.fillRect(QRectF(7, 24, 81, 1.5), QColor(210, 30, 30));
    // A power lamp, lit.
    painter.setPen(QPen(QColor(10, 10, 12), 1.0));
    painter.setBrush(QColor(kLampFill[1]));
    painter.drawEllipse(QPointF(88.0, 11.0), 2.5, 2.5);
    return image;
}

QImage MakeIcon(int scale) {
    return MakeIconOfSize(kIconSize.width() * scale);
}

QImage MakeIconOfSize(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    // The design is drawn on a 32-pixel grid. At whole multiples of it every edge stays on a
    // pixel; at the sizes in between (16, 24, 48) edges fall inside pixels and are smoothed.
    const double scale = static_cast<double>(size) / kIconSize.width();
    const bool bOnGrid = size % kIconSize.width() == 0;
    painter.scale(scale, scale);
    painter.setRenderHint(QPainter::Antialiasing, true);
    DrawPlate(painter, QRectF(0.5, 4.5, 31.0, 23.0), 3.0);
    painter.setRenderHint(QPainter::Antialiasing, !bOnGrid);
    painter.fillRect(QRect(4, 8, 24, 16), QColor(kGlyphBackground));
    DrawIconDigit(painter, QPoint(7, 9), LitSegments(8));  // "7"
    DrawIconDigit(painter, QPoint(17, 9), LitSegments(1)); // "0"
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(kLampFill[1]));
    painter.drawEllipse(QPointF(27.0, 25.8), 1.2, 1.2);
    return image;
}
