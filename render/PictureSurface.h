#pragma once

#include <QColor>
#include <QImage>
#include <QRect>
#include <functional>

// The drawing surface of a picture control: the image the control paints, loaded with its
// bitmap. Renderers draw into `image` and call `invalidate` with the changed rectangle so the
// owner repaints it. Because the drawing lives in the image, it survives expose events.
// `textColor` and `backColor` are the surface's current text colours, as a window surface has
// them; a renderer that writes text sets them for its drawing and puts them back afterwards.
struct CPictureSurface {
    QImage image;
    std::function<void(const QRect&)> invalidate;
    QColor textColor = QColor(0, 0, 0);
    QColor backColor = QColor(255, 255, 255);
};
