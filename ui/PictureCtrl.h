#pragma once

#include <QWidget>

#include "render/PictureSurface.h"

// The front-panel picture: a borderless static picture sized by its image. It owns the surface the
// renderers draw on and paints it; a left click (press and release inside) emits clicked().
class CPictureCtrl : public QWidget {
    Q_OBJECT

public:
    // Loads the image from `resourcePath`; the control takes its size.
    explicit CPictureCtrl(const QString& resourcePath, QWidget* parent = nullptr);

    CPictureSurface* Surface() { return &m_surface; }
    QSize sizeHint() const override;

signals:
    void clicked();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    CPictureSurface m_surface;
    bool m_bPressed = false;
};
