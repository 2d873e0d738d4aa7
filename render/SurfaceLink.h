#pragma once

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>

#include "render/PictureSurface.h"

// The surface handling that both front-panel renderers share: the picture they are attached to,
// an off-screen composition image the size of the picture, and a sheet of artwork loaded from
// the resources, drawn for the picture's pixel ratio. Both are made at the first drawing after
// an Attach and go with the object.
//
// Positions and rectangles are in picture pixels; the copies themselves are made in device
// pixels, so on a picture with two device pixels to one every copy stays a plain pixel copy. The
// drawing operations change the picture's image only and report what they changed; Repaint puts
// a changed rectangle on screen, so a renderer shows the result of several steps at once.
class CSurfaceLink {
public:
    // Binds to `pSurface`; the composition image and the sheet follow at the first drawing.
    // Reports nothing: when the picture has no image or the sheet cannot be loaded, later copies
    // have nothing to copy.
    // A link that is already attached is detached first.
    void Attach(CPictureSurface* pSurface, const char* sheetResource);
    void Detach();

    CPictureSurface* Surface() const { return m_pSurface; }
    // The picture's rectangle in picture pixels; empty while detached.
    QRect ClientRect() const { return m_rcClient; }

    // Copies a rectangle of the composition image onto the picture at `target`, clipped to the
    // picture. Returns the rectangle of the picture that changed.
    QRect CopyToSurface(const QRect& composed, QPoint target);

    // Puts the printed panel back inside `area`. Returns the bounding rectangle of what changed.
    QRect RestorePanel(const QRegion& area);

    // Where `text` goes when written at `target` (its top left): `cell` is what an opaque write
    // fills, its advance wide and one line of the application's font high; `area` is all the
    // write may paint, the cell and every letter's ink beyond it (a descender, a wide last
    // letter); `baseline` is where the first letter sits. In picture pixels, measured at the
    // picture's own resolution, the one the text is drawn at; empty without a picture or a text.
    struct TextPlace {
        QRect cell;
        QRect area;
        QPointF baseline;
    };
    TextPlace PlaceText(QPoint target, const QString& text) const;
    // Writes `text` at `target` onto the picture in the application's font with the surface's
    // text colour, its cell filled with the background colour, within `clip` only: nothing else
    // cuts it but the picture's edge. The ink beyond the cell is drawn over what lies there, so
    // the caller puts that back first. Returns the rectangle of the picture that changed.
    QRect WriteText(QPoint target, const QString& text, const QRegion& clip);

    // Has `changed` repainted: the surface puts it on screen with the window's next repaint.
    void Repaint(const QRect& changed) const;

    // Copies rectangles of the sheet into the composition image, which it makes first when this
    // is the first drawing since the Attach.
    class CComposer {
    public:
        explicit CComposer(CSurfaceLink& link);
        void CopyFromSheet(const QRect& sheetRect, QPoint target);

    private:
        CSurfaceLink& m_link;
    };

private:
    // Makes the composition image and loads the sheet, once after each Attach.
    void Prepare();
    QRect Device(const QRect& rect) const;
    QRect Picture(const QRect& deviceRect) const;

    CPictureSurface* m_pSurface = nullptr;
    int m_nScale = 1;
    QRect m_rcClient;
    QImage m_imgCompose;
    QImage m_imgSheet;
    const char* m_pszSheetResource = nullptr;
    bool m_bPrepared = false;
};
