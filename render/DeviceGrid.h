#pragma once

#include <QPointF>
#include <QRect>
#include <QSize>

// Where the pixels of a picture fall on a screen with `ratio` device pixels to one picture pixel
// (1, 1.25, 1.5, 2, 4/3 ...). A device pixel belongs to the picture pixel that holds its centre,
// so every picture rectangle covers whole device pixels, rectangles side by side in the picture
// cover device pixels side by side, and a drawing sampled at device pixel centres stays inside the
// picture rectangle it is drawn for. At a whole ratio each picture pixel is a square of ratio x
// ratio device pixels.
class CDeviceGrid {
public:
    explicit CDeviceGrid(double dRatio = 1.0);

    double Ratio() const { return m_dRatio; }
    bool IsWhole() const;

    // The first device pixel at or after picture position `x`.
    int Device(int x) const;
    // The device pixels that `rect` (picture pixels) covers.
    QRect Device(const QRect& rect) const;
    // The picture pixels that hold the device pixels of `deviceRect`; Device() of it covers them.
    QRect Picture(const QRect& deviceRect) const;
    // The size in device pixels of a picture of `size` shown from the device origin: the device
    // pixels the window system gives it, rounded as it rounds them.
    QSize DeviceSize(QSize size) const;
    // The size in picture pixels of a picture of `deviceSize`: the inverse of DeviceSize.
    QSize PictureSize(QSize deviceSize) const;
    // How far the first device pixel at `at` lies from where the picture point falls, in device
    // pixels, from -0.5 up to 0.5: zero at a whole ratio. A drawing of a picture rectangle depends
    // on where it lands only through this.
    QPointF Phase(QPoint at) const;

private:
    double m_dRatio;
};
