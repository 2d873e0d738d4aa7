#include "render/SurfaceLink.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <algorithm>

#include "render/Blit.h"

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

void CSurfaceLink::Attach(CPictureSurface* pSurface, const SheetArt& sheet) {
    Detach();
    if (pSurface == nullptr) {
        return;
    }
    m_pSurface = pSurface;
    // The images are made at the first drawing, after the window is on screen: a window is
    // attached before it shows, and nothing is drawn before its first repaint.
    m_imgCompose = QImage();
    m_sheetArt = sheet;
    m_bPrepared = false;
}

bool CSurfaceLink::Prepare() {
    if (m_pSurface == nullptr) {
        return false;
    }
    if (m_bPrepared && m_grid.Ratio() == m_pSurface->dRatio) {
        return true;
    }
    // Once per ratio: a sheet that cannot be had is not looked for at every drawing.
    m_bPrepared = true;
    m_grid = CDeviceGrid(m_pSurface->dRatio);
    const QImage::Format format = CompatibleFormat(m_pSurface->image);
    m_imgCompose = QImage(m_pSurface->image.size(), format);
    if (!m_imgCompose.isNull()) {
        m_imgCompose.fill(Qt::black); // a fresh bitmap starts black, not with stale memory
    }
    m_sheet.Reset(m_sheetArt, m_grid, format);
    return true;
}

void CSurfaceLink::Detach() {
    m_pSurface = nullptr;
}

QRect CSurfaceLink::ClientRect() const {
    if (m_pSurface == nullptr) {
        return {};
    }
    return {QPoint(0, 0), CDeviceGrid(m_pSurface->dRatio).PictureSize(m_pSurface->image.size())};
}

QRect CSurfaceLink::ComposeDevice(const QRect& composed, QPoint destination) const {
    const QPoint origin(m_grid.Device(destination.x()), m_grid.Device(destination.y()));
    return m_grid.Device(composed.translated(destination)).translated(-origin);
}

QRect CSurfaceLink::CopyToSurface(const QRect& composed, QPoint target) {
    if (!Prepare()) {
        return {};
    }
    const QRect from = ComposeDevice(composed, target - composed.topLeft());
    const QPoint to(m_grid.Device(target.x()), m_grid.Device(target.y()));
    return m_grid.Picture(Blit(m_pSurface->image, to, m_imgCompose, from));
}

QRect CSurfaceLink::RestorePanel(const QRegion& area) {
    if (!Prepare() || m_pSurface->image.isNull() || area.isEmpty()) {
        return {};
    }
    QRect changed;
    for (const QRect& rect : area) {
        const QRect device = m_grid.Device(rect);
        changed |= Blit(m_pSurface->image, device.topLeft(), m_pSurface->panel, device);
    }
    return m_grid.Picture(changed);
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
    const QRegion area = clip.intersected(place.area.intersected(ClientRect()));
    if (area.isEmpty()) {
        return {};
    }
    if (!Prepare()) {
        return {};
    }
    QPainter painter;
    if (!painter.begin(&m_pSurface->image)) {
        return {};
    }
    // The clip and the cell in the device pixels that their picture pixels cover, as every copy
    // covers them, so that what the text paints meets what a copy puts back without a seam.
    QRegion deviceArea;
    for (const QRect& rect : area) {
        deviceArea += m_grid.Device(rect);
    }
    painter.setClipRegion(deviceArea);
    // The text's cell is filled with the background, as a window surface's opaque text output
    // does, then the letters are drawn over it from their baseline: no layout rectangle that
    // would cut a descender or a letter reaching past its advance.
    painter.fillRect(m_grid.Device(place.cell), m_pSurface->backColor);
    // The letters in picture pixels, drawn at the picture's ratio: at 1.5 one and a half times
    // the size, sharp.
    painter.scale(m_grid.Ratio(), m_grid.Ratio());
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

CSurfaceLink::CComposer::CComposer(CSurfaceLink& link, QPoint destination)
    : m_link(link), m_ptDestination(destination) {
    m_link.Prepare();
}

void CSurfaceLink::CComposer::CopyFromSheet(const QRect& sheetRect, QPoint target) {
    if (m_link.m_pSurface == nullptr) {
        return;
    }
    const CSheetParts::Source source = m_link.m_sheet.Find(sheetRect, m_ptDestination + target);
    if (source.pImage == nullptr) {
        return;
    }
    const QRect to = m_link.ComposeDevice(QRect(target, sheetRect.size()), m_ptDestination);
    Blit(m_link.m_imgCompose, to.topLeft(), *source.pImage, source.rect);
}
