// The plain rectangle copy, by rows where both images store pixels alike and by a painter where
// not: the same pixels land in the same place, clipped at both images' edges, and an image that
// shares its pixels with another gets its own before it is written.
#include <gtest/gtest.h>

#include <QImage>

#include "render/Blit.h"

namespace {

// Every pixel a colour of its own, so that a copy from a wrong place shows.
QImage Numbered(QSize size, QImage::Format format) {
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < size.height(); ++y) {
        for (int x = 0; x < size.width(); ++x) {
            image.setPixel(x, y, qRgb(x * 10, y * 10, 200));
        }
    }
    return image.convertToFormat(format);
}

// What the copy must give, pixel by pixel.
QImage Expected(const QImage& destination, QPoint target, const QImage& source,
                const QRect& sourceRect) {
    QImage expected = destination.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < sourceRect.height(); ++y) {
        for (int x = 0; x < sourceRect.width(); ++x) {
            const QPoint from = sourceRect.topLeft() + QPoint(x, y);
            const QPoint to = target + QPoint(x, y);
            if (source.rect().contains(from) && expected.rect().contains(to)) {
                expected.setPixel(to, source.pixel(from));
            }
        }
    }
    return expected;
}

TEST(BlitTest, CopiesTheRectangleClippedAtBothImages) {
    struct Case {
        const char* name;
        QPoint target;
        QRect sourceRect;
        QRect written;
    };
    const Case cases[] = {
        {"inside", {3, 2}, {1, 1, 4, 3}, {3, 2, 4, 3}},
        {"past the right and bottom edges", {8, 5}, {0, 0, 4, 4}, {8, 5, 2, 1}},
        {"above and left of the destination", {-2, -1}, {0, 0, 4, 4}, {0, 0, 2, 3}},
        {"partly outside the source", {0, 0}, {-1, 4, 3, 3}, {1, 0, 2, 2}},
        {"wholly outside", {20, 0}, {0, 0, 4, 4}, {}},
    };
    const QImage::Format sameFormats[] = {QImage::Format_RGB32,
                                          QImage::Format_ARGB32_Premultiplied};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QImage::Format format : sameFormats) {
            QImage destination(10, 6, format);
            destination.fill(Qt::black);
            const QImage source = Numbered({6, 6}, format);
            const QImage expected = Expected(destination, c.target, source, c.sourceRect);
            EXPECT_EQ(Blit(destination, c.target, source, c.sourceRect), c.written);
            EXPECT_EQ(destination.convertToFormat(QImage::Format_RGB32), expected);
        }
        // Stored differently: through a painter, with the same result.
        QImage destination(10, 6, QImage::Format_RGB32);
        destination.fill(Qt::black);
        const QImage source = Numbered({6, 6}, QImage::Format_RGB888);
        const QImage expected = Expected(destination, c.target, source, c.sourceRect);
        EXPECT_EQ(Blit(destination, c.target, source, c.sourceRect), c.written);
        EXPECT_EQ(destination, expected);
    }
}

TEST(BlitTest, AnImageSharingItsPixelsGetsItsOwnFirst) {
    const QImage panel = Numbered({8, 8}, QImage::Format_RGB32);
    const QImage untouched = panel.copy();
    QImage image = panel; // shares the panel's pixels
    QImage black(2, 2, QImage::Format_RGB32);
    black.fill(Qt::black);
    EXPECT_EQ(Blit(image, {1, 1}, black, black.rect()), QRect(1, 1, 2, 2));
    EXPECT_EQ(image.pixel(1, 1), qRgb(0, 0, 0));
    EXPECT_EQ(panel, untouched);
}

} // namespace
