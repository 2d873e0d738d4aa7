#include "render/SurfaceLink.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include "render/Blit.h"

namespace {

// The off-screen images take a format that a painter draws into directly and that copies onto
// the picture without conversion in the usual case: the picture's own when it is one of those.
QImage::Format CompatibleFormat(const QImage& window) {
    switch (window.format()) {
    case QImage::Format_RGB32:
    case QImage::Format_ARGB32_Premultiplied:
        return window.format();
    default:
        return window.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied
                                        : QImage::Format_RGB32;
    }
}

} // namespace

void CSurfaceLink::Attach(CPictureSurface* pWnd, const char* sheetResource) {
    Detach();
    if (pWnd == nullptr) {
        return;
    }
    m_pWnd = pWnd;
    m_rcClient = pWnd->image.rect();
    const QImage::Format format = CompatibleFormat(pWnd->image);
    m_imgCompose = QImage(m_rcClient.size(), format);
    if (!m_imgCompose.isNull()) {
        m_imgCompose.fill(Qt::black); // a fresh bitmap starts black, not with stale memory
    }
    m_imgSheet = QImage(QString::fromLatin1(sheetResource)).convertToFormat(format);
}

void CSurfaceLink::Detach() {
    m_pWnd = nullptr;
}

void CSurfaceLink::CopyToWindow(const QRect& composed, QPoint target) {
    if (m_pWnd == nullptr) {
        return;
    }
    Invalidate(Blit(m_pWnd->image, target, m_imgCompose, composed));
}

void CSurfaceLink::WriteText(QPoint target, const QString& text) {
    // Without an application object there is no font system to write with.
    if (m_pWnd == nullptr || text.isEmpty() || qGuiApp == nullptr || m_pWnd->image.isNull()) {
        return;
    }
    const QFont font = QGuiApplication::font();
    const QFontMetrics metrics(font);
    const QRect cell(target, QSize(metrics.horizontalAdvance(text), metrics.height()));
    QPainter painter;
    if (!painter.begin(&m_pWnd->image)) {
        return;
    }
    painter.setFont(font);
    painter.setPen(m_pWnd->textColor);
    painter.setBackgroundMode(Qt::OpaqueMode);
    painter.setBackground(m_pWnd->backColor);
    // Opaque mode fills the text's cell with the background, as a window surface's text output
    // does.
    painter.drawText(cell, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
    painter.end();
    Invalidate(cell.intersected(m_pWnd->image.rect()));
}

void CSurfaceLink::Invalidate(const QRect& changed) const {
    if (!changed.isEmpty() && m_pWnd->invalidate) {
        m_pWnd->invalidate(changed);
    }
}

CSurfaceLink::CComposer::CComposer(CSurfaceLink& link) : m_link(link) {
    if (!m_link.m_imgCompose.isNull() && m_painter.begin(&m_link.m_imgCompose)) {
        m_painter.setCompositionMode(QPainter::CompositionMode_Source);
        m_bActive = true;
    }
}

void CSurfaceLink::CComposer::CopyFromSheet(const QRect& sheetRect, QPoint target) {
    if (m_bActive) {
        Blit(m_painter, m_link.m_imgCompose.rect(), target, m_link.m_imgSheet, sheetRect);
    }
}
