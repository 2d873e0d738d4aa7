#include "render/SheetParts.h"

#include "render/Artwork.h"
#include "render/Resources.h"

namespace {

// Parts kept at most: a value lands its 13 glyphs and its point at a handful of phases, the lamps
// their bars at two. Past this, something draws at ever new places; start again rather than grow.
constexpr size_t kMaxParts = 512;

} // namespace

void CSheetParts::Reset(const SheetArt& art, const CDeviceGrid& grid, QImage::Format format) {
    m_art = art;
    m_grid = grid;
    m_format = format;
    m_bRead = false;
    m_imgSheet = QImage();
    m_parts.clear();
}

CSheetParts::Source CSheetParts::Find(const QRect& part, QPoint at) {
    const int scale = ArtworkScaleExactly(m_grid.Ratio());
    if (scale > 0) {
        if (!m_bRead) {
            m_bRead = true; // once: a sheet that cannot be read is not looked for at every copy
            m_imgSheet =
                LoadArtwork(ArtworkPath(m_art.pszResource, scale)).convertToFormat(m_format);
            // The copies are made pixel for pixel: a painter must not scale it by its ratio.
            m_imgSheet.setDevicePixelRatio(1.0);
        }
        return {&m_imgSheet, m_grid.Device(part)};
    }
    if (m_art.pfnDrawPart == nullptr) {
        return {};
    }
    const QPointF phase = m_grid.Phase(at);
    const Key key{part.left(), part.top(), part.width(), part.height(), phase.x(), phase.y()};
    auto found = m_parts.find(key);
    if (found == m_parts.end()) {
        if (m_parts.size() >= kMaxParts) {
            m_parts.clear();
        }
        found = m_parts.emplace(key, m_art.pfnDrawPart(part, m_grid, at).convertToFormat(m_format))
                    .first;
    }
    return {&found->second, found->second.rect()};
}
