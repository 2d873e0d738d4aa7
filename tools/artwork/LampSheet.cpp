#include <QPainter>
#include <QRadialGradient>

#include "render/Palette.h"
#include "render/PanelLayout.h"
#include "tools/artwork/Artwork.h"

namespace {

QRgb Mix(QRgb a, QRgb b, int percentB) {
    const auto mix = [percentB](int x, int y) {
        return (x * (100 - percentB) + y * percentB) / 100;
    };
    return qRgb(mix(qRed(a), qRed(b)), mix(qGreen(a), qGreen(b)), mix(qBlue(a), qBlue(b)));
}

// One bevelled bar: dark outline along the top and left, a lighter line inside it, the fill in
// the middle two rows, a darker line below and at the right, a white right column and a light
// bottom row, like a small pressed-in indicator.
QRgb BarPixel(QRgb fill, int x, int y) {
    if (x == kLampBarWidth - 1 || y == kLampBarHeight - 1) {
        return kLampHighlight;
    }
    if (x == 0 || y == 0) {
        return kLampOutline;
    }
    if (x == kLampBarWidth - 2 || y == kLampBarHeight - 2) {
        return Mix(fill, qRgb(0, 0, 0), 45);
    }
    if (x == 1 || y == 1) {
        return Mix(fill, qRgb(255, 255, 255), 55);
    }
    return fill;
}

// The round lamp above each bar: a domed lens in a dark ring.
void DrawRoundLamp(QPainter& painter, QRgb fill, QPointF centre) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(12, 12, 13));
    painter.drawEllipse(centre, 10.5, 10.5);
    QRadialGradient lens(centre - QPointF(2.5, 3.0), 10.0);
    lens.setColorAt(0.0, QColor(Mix(fill, qRgb(255, 255, 255), 75)));
    lens.setColorAt(0.45, QColor(fill));
    lens.setColorAt(1.0, QColor(Mix(fill, qRgb(0, 0, 0), 55)));
    painter.setBrush(lens);
    painter.drawEllipse(centre, 8.5, 8.5);
}

} // namespace

QImage MakeLampSheet(int scale) {
    QImage sheet(kLampSheetSize * scale, QImage::Format_RGB32);
    sheet.fill(QColor(34, 35, 38));
    {
        QPainter painter(&sheet);
        painter.scale(scale, scale);
        painter.setRenderHint(QPainter::Antialiasing, true);
        for (int s = 0; s < kLampCount; ++s) {
            DrawRoundLamp(painter, kLampFill[static_cast<size_t>(s)],
                          QPointF(kLampBarWidth * s + 12.0, 12.0));
        }
    }
    // The bars are a pixel design: at `scale` 2 each of their pixels is a square of four, so the
    // bevel's lines stay whole lines of the picture.
    for (int s = 0; s < kLampCount; ++s) {
        for (int y = 0; y < kLampBarHeight * scale; ++y) {
            for (int x = 0; x < kLampBarWidth * scale; ++x) {
                sheet.setPixel((kLampBarWidth * s) * scale + x, kLampBarTop * scale + y,
                               BarPixel(kLampFill[static_cast<size_t>(s)], x / scale, y / scale));
            }
        }
    }
    return sheet;
}
