#pragma once

#include <QImage>
#include <QRect>
#include <functional>

// The drawing surface of a picture control: the image the control paints, loaded with its
// bitmap. Renderers draw into `image` and call `invalidate` with the changed rectangle so the
// owner repaints it. Because the drawing lives in the image, it survives expose events.
struct CPictureSurface {
    QImage image;
    std::function<void(const QRect&)> invalidate;
};
