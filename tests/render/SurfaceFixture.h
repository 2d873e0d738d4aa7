#pragma once

#include <QGuiApplication>
#include <QImage>
#include <QRect>
#include <QScreen>
#include <gtest/gtest.h>
#include <vector>

#include "render/PictureSurface.h"
#include "render/Resources.h"

// A picture surface without a window: the front panel as the picture control holds it, and a
// record of every repaint the renderers ask for.
class SurfaceFixture : public ::testing::Test {
protected:
    void SetUp() override {
        // At the screen's resolution, as the picture control holds it.
        m_imgPanel =
            LoadSurfacePicture(QString::fromLatin1(kPanelResource), 1,
                               qRound(QGuiApplication::primaryScreen()->logicalDotsPerInchY()));
        ASSERT_FALSE(m_imgPanel.isNull());
        m_imgGlyphs = QImage(kGlyphSheetResource).convertToFormat(QImage::Format_RGB32);
        m_imgLamps = QImage(kLampSheetResource).convertToFormat(QImage::Format_RGB32);
        m_surface.panel = m_imgPanel;
        m_surface.image = m_imgPanel;
        m_surface.repaint = [this](const QRect& r) { m_repainted.push_back(r); };
    }

    // Pixels of the surface inside `area`, as an image of their own.
    QImage Region(const QRect& area) const { return m_surface.image.copy(area); }

    // True when no pixel outside `area` differs from `before`.
    bool UnchangedOutside(const QImage& before, const QRect& area) const {
        for (int y = 0; y < before.height(); ++y) {
            for (int x = 0; x < before.width(); ++x) {
                if (!area.contains(x, y) && before.pixel(x, y) != m_surface.image.pixel(x, y)) {
                    return false;
                }
            }
        }
        return true;
    }

    CPictureSurface m_surface;
    QImage m_imgPanel;
    QImage m_imgGlyphs;
    QImage m_imgLamps;
    std::vector<QRect> m_repainted;
};
