#include <QPainter>
#include <QRadialGradient>
#include <cmath>

#include "render/Palette.h"
#include "render/PanelArt.h"
#include "render/PanelLayout.h"

namespace {

constexpr QRgb kSheetGround = qRgb(34, 35, 38);

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

QImage DrawLampSheetPart(const QRect& part, const CDeviceGrid& grid, QPoint at) {
    const QRect device = grid.Device(QRect(at, part.size()));
    QImage image(device.size(), QImage::Format_RGB32);
    if (image.isNull()) {
        return image;
    }
    image.fill(kSheetGround);
    const QPointF phase = grid.Phase(at);
    const double ratio = grid.Ratio();
    {
        // Sheet point p lands at device (p - part's corner) * ratio - phase, so that the centre of
        // device pixel i is the sheet point the bars below sample for it.
        QPainter painter(&image);
        painter.setTransform(QTransform(ratio, 0, 0, ratio, -(part.left() * ratio + phase.x()),
                                        -(part.top() * ratio + phase.y())));
        painter.setRenderHint(QPainter::Antialiasing, true);
        for (int s = 0; s < kLampCount; ++s) {
            DrawRoundLamp(painter, kLampFill[static_cast<size_t>(s)],
                          QPointF(kLampBarWidth * s + 12.0, 12.0));
        }
    }
    // The bars are a pixel design: each of their picture pixels is the device pixels whose
    // centres it holds, so the bevel's lines stay whole lines of the picture.
    for (int y = 0; y < image.height(); ++y) {
        const int v = static_cast<int>(std::floor(part.top() + (y + 0.5 + phase.y()) / ratio));
        if (v < kLampBarTop || v >= kLampBarTop + kLampBarHeight) {
            continue;
        }
        auto* pLine = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int u = static_cast<int>(std::floor(part.left() + (x + 0.5 + phase.x()) / ratio));
            const int bar = u / kLampBarWidth;
            if (u < 0 || bar >= kLampCount) {
                continue;
            }
            pLine[x] = BarPixel(kLampFill[static_cast<size_t>(bar)], u - bar * kLampBarWidth,
                                v - kLampBarTop);
        }
    }
    return image;
}

QImage MakeLampSheet(int scale) {
    const QRect sheet(QPoint(0, 0), kLampSheetSize);
    return DrawLampSheetPart(sheet, CDeviceGrid(scale), sheet.topLeft());
}
