#include "render/SurfaceLink.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>

#include "render/Artwork.h"
#include "render/Blit.h"
#include "render/Resources.h"

namespace {

// The off-screen images take a format that a painter draws into directly and that copies onto
// the picture without conversion in the usual case: the picture's own when it is one of those.
QImage::Format CompatibleFormat(const QImage& surface) {
    switch (surface.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return surface.format();
    default:
        return surface.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                         : QImage::Format_RGB32;
    }
}

} // namespace

void CSurfaceLink::Attach(CPictureSurface* pSurface, const char* sheetResource) {
    Detach();
    if (pSurface == nullptr) {
        return;
    }
    m_pSurface = pSurface;
    m_nScale = std::max(1, pSurface->nScale);
    const QRect device = pSurface->image.rect();
    m_rcClient = QRect(0, 0, device.width() / m_nScale, device.height() / m_nScale);
    // The images are made at the first drawing, after the window is on screen: a window is
    // attached before it shows, and nothing is drawn before its first repaint.
    m_imgCompose = QImage();
    m_imgSheet = QImage();
    m_pszSheetResource = sheetResource;
    m_bPrepared = false;
}

void CSurfaceLink::Prepare() {
    if (m_bPrepared || m_pSurface == nullptr) {
        return;
    }
    m_bPrepared = true; // once: a sheet that cannot be loaded is not looked for at every drawing
    const QImage::Format format = CompatibleFormat(m_pSurface->image);
    m_imgCompose = QImage(m_pSurface->image.size(), format);
    if (!m_imgCompose.isNull()) {
        m_imgCompose.fill(Qt::black); // a fresh bitmap starts black, not with stale memory
    }
    m_imgSheet = LoadArtwork(ArtworkPath(m_pszSheetResource, m_nScale)).convertToFormat(format);
    // The copies are made pixel for pixel: a painter must not scale the sheet by its ratio.
    m_imgSheet.setDevicePixelRatio(1.0);
}

void CSurfaceLink::Detach() {
    m_pSurface = nullptr;
    m_rcClient = QRect();
}

QRect CSurfaceLink::Device(const QRect& rect) const {
    return {rect.topLeft() * m_nScale, rect.size() * m_nScale};
}

QRect CSurfaceLink::Picture(const QRect& deviceRect) const {
    // Every copy starts and ends on a picture pixel, so the division is exact.
    return {deviceRect.topLeft() / m_nScale, deviceRect.size() / m_nScale};
}

QRect CSurfaceLink::CopyToSurface(const QRect& composed, QPoint target) {
    if (m_pSurface == nullptr) {
        return {};
    }
    Prepare();
    return Picture(Blit(m_pSurface->image, target * m_nScale, m_imgCompose, Device(composed)));
}

QRect CSurfaceLink::RestorePanel(const QRegion& area) {
    if (m_pSurface == nullptr || m_pSurface->image.isNull() || area.isEmpty()) {
        return {};
    }
    QRect changed;
    for (const QRect& rect : area) {
        const QRect device = Device(rect);
        changed |= Blit(m_pSurface->image, device.topLeft(), m_pSurface->panel, device);
    }
    return Picture(changed);
}

CSurfaceLink::TextPlace CSurfaceLink::PlaceText(QPoint target, const QString& text) const {
    // Without an application object there is no font system to measure with.
    if (m_pSurface == nullptr || m_pSurface->image.isNull() || qGuiApp == nullptr ||
        text.isEmpty()) {
        return {};
    }
    // Measured on the picture itself, whose resolution gives the font its size in pixels when the
    // text is drawn there.
    const QFontMetricsF metrics(QGuiApplication::font(), &m_pSurface->image);
    const QRectF cell(target, QSizeF(metrics.horizontalAdvance(text), metrics.height()));
    // The letters' ink reaches beyond the cell where a descender or an accent is longer than the
    // font's line or a last letter wider than its advance ("f", "Å").
    const QPointF baseline(target.x(), target.y() + metrics.ascent());
    const QRect ink = metrics.boundingRect(text).translated(baseline).toAlignedRect();
    const QRect filled = cell.toAlignedRect();
    return {filled, filled | ink, baseline};
}

QRect CSurfaceLink::WriteText(QPoint target, const QString& text, const QRegion& clip) {
    if (m_pSurface == nullptr || m_pSurface->image.isNull()) {
        return {};
    }
    const TextPlace place = PlaceText(target, text);
    const QRegion area = clip.intersected(place.area.intersected(m_rcClient));
    if (area.isEmpty()) {
        return {};
    }
    QPainter painter;
    if (!painter.begin(&m_pSurface->image)) {
        return {};
    }
    // In picture pixels; on a picture of ratio 2 the letters are drawn at twice the size, sharp.
    painter.scale(m_nScale, m_nScale);
    painter.setClipRegion(area);
    // The text's cell is filled with the background, as a window surface's opaque text output
    // does, then the letters are drawn over it from their baseline: no layout rectangle that
    // would cut a descender or a letter reaching past its advance.
    painter.fillRect(place.cell, m_pSurface->backColor);
    painter.setFont(QGuiApplication::font());
    painter.setPen(m_pSurface->textColor);
    painter.drawText(place.baseline, text);
    painter.end();
    return area.boundingRect();
}

void CSurfaceLink::Repaint(const QRect& changed) const {
    if (m_pSurface != nullptr && !changed.isEmpty() && m_pSurface->repaint) {
        m_pSurface->repaint(changed);
    }
}

CSurfaceLink::CComposer::CComposer(CSurfaceLink& link) : m_link(link) {
    m_link.Prepare();
}

void CSurfaceLink::CComposer::CopyFromSheet(const QRect& sheetRect, QPoint target) {
    Blit(m_link.m_imgCompose, target * m_link.m_nScale, m_link.m_imgSheet,
         m_link.Device(sheetRect));
}
