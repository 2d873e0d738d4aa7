#include "ui/PictureCtrl.h"

#include <QEvent>
#include <QExposeEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <QTransform>
#include <QWindow>
#include <cmath>
#include <utility>

#include "render/DeviceGrid.h"

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

// The device pixels that the window system repaints for `rect` (window pixels) at `ratio`,
// whichever way it rounds, and all that the picture's own grid gives it.
QRect DeviceCover(const QRect& rect, double ratio) {
    const auto down = [ratio](int v) { return static_cast<int>(std::floor(v * ratio)); };
    const auto up = [ratio](int v) { return static_cast<int>(std::ceil(v * ratio)); };
    return {QPoint(down(rect.left()), down(rect.top())),
            QPoint(up(rect.left() + rect.width()) - 1, up(rect.top() + rect.height()) - 1)};
}

} // namespace

CPictureCtrl::CPictureCtrl(const QString& resourcePath, QWidget* parent)
    : QWidget(parent), m_strResource(resourcePath) {
    m_surface.dRatio = ScreenRatio();
    // The window's resolution, so that the unit written on the picture has the size of the
    // window's own text.
    m_surface.panel = LoadSurfacePicture(resourcePath, m_surface.dRatio, logicalDpiY());
    m_surface.image = m_surface.panel; // shared until the first drawing copies it
    m_surface.repaint = [this](const QRect& rect) { Changed(rect); };
    m_sizePicture = CDeviceGrid(m_surface.dRatio).PictureSize(m_surface.panel.size());
    // The image covers the whole control: the window beneath never needs repainting for it.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_sizePicture);
}

QSize CPictureCtrl::sizeHint() const {
    return m_sizePicture;
}

bool CPictureCtrl::event(QEvent* pEvent) {
    // The window went to another screen; its repaint follows at once.
    if (pEvent->type() == QEvent::ScreenChangeInternal) {
        FollowRatio();
    }
    return QWidget::event(pEvent);
}

void CPictureCtrl::paintEvent(QPaintEvent* pEvent) {
    // The screen's ratio changed without a word (the desktop's scale set anew): the whole window
    // is being repainted, this picture drawn for the new ratio with it.
    FollowRatio();
    // The image holds the picture's device pixels, drawn for the screen's ratio: copied one for
    // one, never scaled, so that a repaint of part of it shows what a repaint of all of it shows.
    QPainter painter(this);
    const QTransform toDevice = painter.deviceTransform();
    painter.setWorldTransform(QTransform::fromScale(1.0 / toDevice.m11(), 1.0 / toDevice.m22()));
    for (const QRect& rect : pEvent->region()) {
        const QRect device =
            DeviceCover(rect, m_surface.dRatio).intersected(m_surface.image.rect());
        painter.drawImage(device.topLeft(), m_surface.image, device);
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
    // A window that is not on screen has nothing to paint; its exposure will repaint it. Where
    // window pixels are not whole squares of device pixels, the window system rounds the edges
    // of a repaint to device pixels its own way: a window pixel more all round covers every
    // device pixel that changed, and the flush to the screen with them.
    const bool bWhole = CDeviceGrid(m_surface.dRatio).IsWhole();
    update(bWhole ? rect : rect.adjusted(-1, -1, 1, 1).intersected(this->rect()));
}

double CPictureCtrl::ScreenRatio() const {
    // The window's own ratio, exact: a widget's is rounded to four decimals (1.3333 for 4/3).
    if (const QWindow* pWindow = window()->windowHandle()) {
        return pWindow->devicePixelRatio();
    }
    return screen()->devicePixelRatio();
}

void CPictureCtrl::FollowRatio() {
    const double ratio = ScreenRatio();
    if (ratio == m_surface.dRatio) {
        return;
    }
    QImage panel = LoadSurfacePicture(m_strResource, ratio, logicalDpiY());
    if (panel.isNull()) {
        return;
    }
    m_surface.dRatio = ratio;
    m_surface.panel = std::move(panel);
    // As after any repaint from the window system: the printed panel, value and unit drawn on it
    // by the owner, now at the new ratio.
    RepaintFromWindowSystem();
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
