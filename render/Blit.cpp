#include "render/Blit.h"

QRect Blit(QPainter& painter, const QRect& bounds, QPoint target, const QImage& source,
           const QRect& sourceRect) {
    // Clip at the source first, moving the target by what was cut off at the top left, then at
    // the destination, moving the source the same way.
    const QRect from = sourceRect.intersected(source.rect());
    if (from.isEmpty()) {
        return {};
    }
    const QPoint shifted = target + (from.topLeft() - sourceRect.topLeft());
    const QRect to = QRect(shifted, from.size()).intersected(bounds);
    if (to.isEmpty()) {
        return {};
    }
    const QRect clippedFrom(from.topLeft() + (to.topLeft() - shifted), to.size());
    painter.drawImage(to.topLeft(), source, clippedFrom);
    return to;
}

QRect Blit(QImage& destination, QPoint target, const QImage& source, const QRect& sourceRect) {
    if (destination.isNull()) {
        return {};
    }
    QPainter painter;
    if (!painter.begin(&destination)) {
        return {};
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    return Blit(painter, destination.rect(), target, source, sourceRect);
}
