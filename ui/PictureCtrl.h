#pragma once

#include <QPointer>
#include <QWidget>

#include "render/PictureSurface.h"

class QWindow;

// The front-panel picture: a borderless static picture sized by its image. It owns the surface the
// renderers draw on: the printed panel and the image it shows. A left click (press and release
// inside) emits clicked().
//
// What the renderers draw is painted with the window's next repaint, when the thread returns to its
// loop or when the window's owner has the window's pending repaints done. When the window system
// has the picture repaint itself (any part of it exposed again after it was covered or minimised),
// the whole picture shows the printed panel again and emits repainting(), so that its owner draws
// what belongs on it; earlier drawings do not survive such a repaint, not even in part.
//
// The picture is drawn for the device pixel ratio of the screen it shows on, whatever it is, and
// is put on screen device pixel for device pixel. When the window moves to a screen of another
// ratio, the panel is drawn anew for it and the picture repaints as after an exposure.
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
    bool event(QEvent* pEvent) override;
    void paintEvent(QPaintEvent* pEvent) override;
    void showEvent(QShowEvent* pEvent) override;
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;
    void mousePressEvent(QMouseEvent* pEvent) override;
    void mouseReleaseEvent(QMouseEvent* pEvent) override;

private:
    // The renderers' drawing: on screen with the next repaint, or with the one under way.
    void Changed(const QRect& rect);
    // The window system's repaint of the picture.
    void RepaintFromWindowSystem();
    // The device pixel ratio of the screen the picture shows on.
    double ScreenRatio() const;
    // Draws the panel anew when the screen's ratio is no longer the one it was drawn for.
    void FollowRatio();

    QString m_strResource;
    CPictureSurface m_surface;
    QSize m_sizePicture;                // in window pixels, the same at every ratio
    QPointer<QWindow> m_pWatchedWindow; // the window whose exposures reach the picture
    bool m_bRepainting = false;
    bool m_bPressed = false;
};
