#pragma once

#include <QPointer>
#include <QRegion>
#include <QWidget>

#include "render/PictureSurface.h"

class QWindow;

// The front-panel picture: a borderless static picture sized by its image. It owns the surface the
// renderers draw on: the printed panel and the image it shows. A left click (press and release
// inside) emits clicked().
//
// What the renderers draw is painted at once, before their call returns. When the window system
// has the picture repaint itself (the window exposed again after it was covered or minimised), the
// picture shows the printed panel again in the repainted part and emits repainting(), so that its
// owner draws what belongs on it; earlier drawings do not survive such a repaint.
class CPictureCtrl : public QWidget {
    Q_OBJECT

public:
    // Loads the picture from `resourcePath`, drawn for the screen's pixel ratio; the control takes
    // its size in picture pixels.
    explicit CPictureCtrl(const QString& resourcePath, QWidget* parent = nullptr);

    CPictureSurface* Surface() { return &m_surface; }
    QSize sizeHint() const override;

signals:
    void clicked();
    // The window system repaints the picture and the printed panel is back in the repainted part:
    // draw on it now. The drawing reaches the screen with that repaint.
    void repainting();

protected:
    void paintEvent(QPaintEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    // The renderers' drawing: on screen now, or gathered while the picture repaints itself.
    void PaintNow(const QRect& rect);
    // The window system's repaint of `region` (picture pixels).
    void RepaintFromWindowSystem(const QRegion& region);

    CPictureSurface m_surface;
    QPointer<QWindow> m_pWatchedWindow; // the window whose exposures reach the picture
    bool m_bRepainting = false;
    QRegion m_rgnRepainted;
    bool m_bPressed = false;
};
