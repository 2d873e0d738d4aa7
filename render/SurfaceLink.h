#pragma once

#include <QImage>
#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRegion>
#include <QString>

#include "render/DeviceGrid.h"
#include "render/PictureSurface.h"
#include "render/SheetParts.h"

// The surface handling that both front-panel renderers share: the picture they are attached to,
// an off-screen composition image the size of the picture, and a sheet of artwork drawn for the
// picture's pixel ratio. Both are made at the first drawing after an Attach, again at the first
// drawing after the picture's ratio has changed, and go with the object.
//
// Positions and rectangles are in picture pixels; the copies themselves are made in device
// pixels, each picture rectangle covering the device pixels CDeviceGrid gives it, so every copy
// stays a plain pixel copy at any ratio. A composition is made for the place it is copied to:
// where picture pixels are not whole squares of device pixels, a sheet's part looks different
// at different places, and the composition holds the parts drawn for that place. The drawing
// operations change the picture's image only and report what they changed; Repaint puts a
// changed rectangle on screen, so a renderer shows the result of several steps at once.
class CSurfaceLink {
public:
    // Binds to `pSurface`; the composition image and the sheet follow at the first drawing.
    // Reports nothing: when the picture has no image or the sheet cannot be loaded, later copies
    // have nothing to copy.
    // A link that is already attached is detached first.
    void Attach(CPictureSurface* pSurface, const SheetArt& sheet);
    void Detach();

    CPictureSurface* Surface() const { return m_pSurface; }
    // The picture's rectangle in picture pixels; empty while detached.
    QRect ClientRect() const;

    // Copies a rectangle of the composition image onto the picture at `target`, clipped to the
    // picture. The composition is the one made for `target` less `composed`'s corner. Returns the
    // rectangle of the picture that changed.
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

    // Copies rectangles of the sheet into the composition image, made for a copy of it onto the
    // picture with its origin at `destination`; makes the image first when this is the first
    // drawing since the Attach or since the picture's ratio changed.
    class CComposer {
    public:
        CComposer(CSurfaceLink& link, QPoint destination);
        void CopyFromSheet(const QRect& sheetRect, QPoint target);

    private:
        CSurfaceLink& m_link;
        QPoint m_ptDestination;
    };

private:
    // Makes the composition image and readies the sheet, once after each Attach and again when
    // the picture's ratio has changed. False while detached.
    bool Prepare();
    // The device pixels of the composition that `composed` covers in a composition made for
    // `destination`: those it covers on the picture there, less those of the origin.
    QRect ComposeDevice(const QRect& composed, QPoint destination) const;

    CPictureSurface* m_pSurface = nullptr;
    CDeviceGrid m_grid;
    QImage m_imgCompose;
    SheetArt m_sheetArt;
    CSheetParts m_sheet;
    bool m_bPrepared = false;
};
