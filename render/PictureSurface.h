#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <QString>
#include <functional>

// The drawing surface of a picture control. `panel` is the printed picture the control was made
// with (bitmap 135) and is never drawn on; `image` is what the control shows: the panel with
// whatever was drawn on it since the window system last had the control repaint itself. Renderers
// draw into `image` and call `repaint` with the changed rectangle, which the control puts on
// screen with the window's next repaint.
//
// Both images hold device pixels, `dRatio` of them to a picture pixel across and down (the
// screen's device pixel ratio: 1, 1.25, 1.5, 2 ..., with artwork drawn for that ratio, placed as
// CDeviceGrid places picture pixels), and keep a device pixel ratio of 1 so that copies between
// them stay pixel for pixel; rectangles and positions given to and by the renderers are in picture
// pixels. Their resolution is that of the window in picture pixels, so that text written on them,
// in picture pixels, has the size of the window's own text. The owner may change the ratio with
// both images (the window moved to another screen); the renderers follow at their next drawing.
// `textColor` and `backColor` are the surface's current text colours, as a window surface has
// them; a renderer that writes text sets them for its drawing and puts them back afterwards.
struct CPictureSurface {
    QImage panel;
    QImage image;
    double dRatio = 1.0;
    std::function<void(const QRect&)> repaint;
    QColor textColor = QColor(0, 0, 0);
    QColor backColor = QColor(255, 255, 255);
};

// The printed picture `resource` drawn for the device pixel ratio `ratio` as a surface holds it: in
// device pixels at a ratio of 1, with the resolution of the window it shows on (`logicalDpi`, dots
// per inch of picture pixels) in place of whatever the file declares. The resources' picture at
// the ratios they hold; at any other the front panel is drawn for the ratio (another picture
// takes the resources' nearest). Null when it cannot be loaded.
QImage LoadSurfacePicture(const QString& resource, double ratio, int logicalDpi);
