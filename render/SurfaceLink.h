#pragma once

#include <QImage>
#include <QPainter>
#include <QPoint>
#include <QRect>
#include <QString>

#include "render/PictureSurface.h"

// The surface handling that both front-panel renderers share: the picture they are attached to,
// an off-screen composition image the size of the picture, and a sheet of artwork loaded from
// the resources. Images made at Attach are kept after Detach and reused by a later Attach; they
// go with the object.
class CSurfaceLink {
public:
    // Binds to `pWnd` and prepares the composition image and the sheet. Reports nothing: when
    // the picture has no image or the sheet cannot be loaded, later copies have nothing to copy.
    // A link that is already attached is detached first.
    void Attach(CPictureSurface* pWnd, const char* sheetResource);
    void Detach();

    CPictureSurface* Window() const { return m_pWnd; }

    // Copies a rectangle of the composition image onto the picture at `target`, clipped to the
    // picture, and asks the picture to repaint what changed.
    void CopyToWindow(const QRect& composed, QPoint target);

    // Writes `text` at `target` (its top left) onto the picture in the application's font with
    // the surface's text and background colours, the background filled behind it.
    void WriteText(QPoint target, const QString& text);

    // Copies rectangles of the sheet into the composition image; one painter for a whole value.
    class CComposer {
    public:
        explicit CComposer(CSurfaceLink& link);
        void CopyFromSheet(const QRect& sheetRect, QPoint target);

    private:
        CSurfaceLink& m_link;
        QPainter m_painter;
        bool m_bActive = false;
    };

private:
    void Invalidate(const QRect& changed) const;

    CPictureSurface* m_pWnd = nullptr;
    QRect m_rcClient;
    QImage m_imgCompose;
    QImage m_imgSheet;
};
