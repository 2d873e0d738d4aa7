#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>

// Plain rectangle copy: the pixels of `source` inside `sourceRect` replace those of the painted
// image at `target`, with no blending or scaling. Parts of the rectangle outside `source` or
// outside `bounds` (the painted image's rectangle) are left out. Returns the rectangle of the
// painted image that was written, empty when nothing was.
QRect Blit(QPainter& painter, const QRect& bounds, QPoint target, const QImage& source,
           const QRect& sourceRect);

// The same copy onto `destination` with a painter of its own.
QRect Blit(QImage& destination, QPoint target, const QImage& source, const QRect& sourceRect);
