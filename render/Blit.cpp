#include "render/Blit.h"

#include <QPainter>

#include <cstring>

namespace {

// Pixels stored the same way in both images, whole bytes each: a row is copied as it is.
bool CopiesAsBytes(const QImage& destination, const QImage& source) {
    return destination.format() == source.format() && source.colorCount() == 0 &&
           source.depth() % 8 == 0;
}

} // namespace

QRect Blit(QImage& destination, QPoint target, const QImage& source, const QRect& sourceRect) {
    if (destination.isNull()) {
        return {};
    }
    // Clip at the source first, moving the target by what was cut off at the top left, then at
    // the destination, moving the source the same way.
    const QRect from = sourceRect.intersected(source.rect());
    if (from.isEmpty()) {
        return {};
    }
    const QPoint shifted = target + (from.topLeft() - sourceRect.topLeft());
    const QRect to = QRect(shifted, from.size()).intersected(destination.rect());
    if (to.isEmpty()) {
        return {};
    }
    const QRect clippedFrom(from.topLeft() + (to.topLeft() - shifted), to.size());
    if (CopiesAsBytes(destination, source)) {
        const int bytesPerPixel = source.depth() / 8;
        const auto rowBytes = static_cast<size_t>(to.width() * bytesPerPixel);
        for (int row = 0; row < to.height(); ++row) {
            // scanLine() makes the destination's pixels its own first, as a painter would.
            uchar* pTo = destination.scanLine(to.top() + row) + to.left() * bytesPerPixel;
            const uchar* pFrom =
                source.constScanLine(clippedFrom.top() + row) + clippedFrom.left() * bytesPerPixel;
            std::memmove(pTo, pFrom, rowBytes);
        }
        return to;
    }
    QPainter painter;
    if (!painter.begin(&destination)) {
        return {};
    }
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(to.topLeft(), source, clippedFrom);
    return to;
}
