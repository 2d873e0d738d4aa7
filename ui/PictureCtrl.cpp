#include "ui/PictureCtrl.h"

#include <QEvent>
#include <QExposeEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWindow>

#include "render/Resources.h"

namespace {

// The part of the window that the window system asks to be repainted.
QRegion ExposedRegion(const QExposeEvent* pEvent) {
    // The event still carries its region; painting code is meant to wait for the paint event
    // instead, but the picture must know what was exposed before that paint.
    QT_WARNING_PUSH
    QT_WARNING_DISABLE_DEPRECATED
    QRegion region = pEvent->region();
    QT_WARNING_POP
    return region;
}

} // namespace

CPictureCtrl::CPictureCtrl(const QString& resourcePath, QWidget* parent) : QWidget(parent) {
    m_surface.nScale = ArtworkScale(devicePixelRatioF());
    // The window's resolution, so that the unit written on the picture has the size of the
    // window's own text.
    m_surface.panel = LoadSurfacePicture(resourcePath, m_surface.nScale, logicalDpiY());
    m_surface.image = m_surface.panel; // shared until the first drawing copies it
    m_surface.repaint = [this](const QRect& rect) { Changed(rect); };
    // The image covers the whole control: the window beneath never needs repainting for it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(sizeHint());
}

QSize CPictureCtrl::sizeHint() const {
    return m_surface.panel.size() / m_surface.nScale;
}

void CPictureCtrl::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    const int scale = m_surface.nScale;
    // On a screen whose ratio the artwork was not drawn for, the nearest sheet is resampled.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, devicePixelRatioF() != scale);
    for (const QRect& rect : pEvent->region()) {
        painter.drawImage(QRectF(rect), m_surface.image,
                          QRectF(rect.topLeft() * scale, rect.size() * scale));
    }
}

void CPictureCtrl::showEvent(QShowEvent* pEvent) {
    QWidget::showEvent(pEvent);
    // Exposures arrive at the top-level window; it exists once the window is shown.
    QWindow* pWindow = window()->windowHandle();
    if (pWindow != m_pWatchedWindow) {
        if (m_pWatchedWindow != nullptr) {
            m_pWatchedWindow->removeEventFilter(this);
        }
        m_pWatchedWindow = pWindow;
        if (pWindow != nullptr) {
            pWindow->installEventFilter(this);
        }
    }
}

bool CPictureCtrl::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == m_pWatchedWindow && pEvent->type() == QEvent::Expose && isVisible()) {
        const QRegion exposed = ExposedRegion(static_cast<QExposeEvent*>(pEvent));
        const QPoint origin = mapTo(window(), QPoint(0, 0));
        if (exposed.translated(-origin).intersects(rect())) {
            RepaintFromWindowSystem();
        }
    }
    return QWidget::eventFilter(pWatched, pEvent);
}

void CPictureCtrl::Changed(const QRect& rect) {
    if (m_bRepainting) {
        return; // on screen with the repaint under way
    }
    // A window that is not on screen has nothing to paint; its exposure will repaint it.
    update(rect);
}

void CPictureCtrl::RepaintFromWindowSystem() {
    // The whole picture, however little of it was exposed: a drawing never outlives a repaint, and
    // a lamp half covered must not come back half lit and half as printed. Both lamps show their
    // printed bars until the next exchange draws them; the owner draws the value and the unit.
    m_surface.image = m_surface.panel; // shared until the first drawing copies it
    m_bRepainting = true;
    emit repainting();
    m_bRepainting = false;
    // Painted by the repaint the window system is waiting for, all in one.
    update();
}

void CPictureCtrl::mousePressEvent(QMouseEvent* pEvent) {
    m_bPressed = pEvent->button() == Qt::LeftButton;
    QWidget::mousePressEvent(pEvent);
}

void CPictureCtrl::mouseReleaseEvent(QMouseEvent* pEvent) {
    const bool bClick = m_bPressed && pEvent->button() == Qt::LeftButton &&
                        rect().contains(pEvent->position().toPoint());
    m_bPressed = false;
    QWidget::mouseReleaseEvent(pEvent);
    if (bClick) {
        emit clicked();
    }
}
