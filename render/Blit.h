#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>

// Plain rectangle copy: the pixels of `source` inside `sourceRect` replace those of `destination`
// at `target`, with no blending or scaling. Parts of the rectangle outside either image are left
// out. Returns the rectangle of `destination` that was written, empty when nothing was.
//
// Images that hold their pixels alike (the same format, no colour table) are copied row by row;
// others through a painter. A painter costs more to start than a lamp or a cell costs to copy.
QRect Blit(QImage& destination, QPoint target, const QImage& source, const QRect& sourceRect);
