#include "ui/PictureCtrl.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>

CPictureCtrl::CPictureCtrl(const QString& resourcePath, QWidget* parent) : QWidget(parent) {
    m_surface.image = QImage(resourcePath).convertToFormat(QImage::Format_RGB32);
    m_surface.invalidate = [this](const QRect& rect) { update(rect); };
    // The image covers the whole control: the window beneath never needs repainting for it,
    // which also keeps a redraw from the window's own painting from echoing back.
    setAttribute(Qt::WA_OpaquePaintEvent);
    setFixedSize(m_surface.image.size());
}

QSize CPictureCtrl::sizeHint() const {
    return m_surface.image.size();
}

void CPictureCtrl::paintEvent(QPaintEvent* pEvent) {
    QPainter painter(this);
    const QRect rect = pEvent->rect();
    painter.drawImage(rect, m_surface.image, rect);
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
