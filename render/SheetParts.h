#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <map>
#include <tuple>

#include "render/DeviceGrid.h"

// A sheet of artwork: the picture of it in the resources, drawn for ratios 1 and 2, and the
// drawing of any part of it for any ratio (render/PanelArt.h).
struct SheetArt {
    const char* pszResource = nullptr;
    QImage (*pfnDrawPart)(const QRect& part, const CDeviceGrid& grid, QPoint at) = nullptr;
};

// What a renderer copies from a sheet, on a picture of a given device pixel ratio. At the ratios
// the resources hold a picture for, that picture, read once, and a part of it is a rectangle of
// it. At any other ratio no picture of another ratio is scaled: a part is drawn for the place it
// lands at, the first time it lands at that place's phase, and kept for the next time.
class CSheetParts {
public:
    // Forgets what was read or drawn: the next Find reads or draws for `grid`, in `format`.
    void Reset(const SheetArt& art, const CDeviceGrid& grid, QImage::Format format);

    // `part` of the sheet (sheet pixels) as it looks copied to picture position `at`: an image
    // and the rectangle of it that holds the part, as many device pixels as the part covers
    // there. A null image when the sheet cannot be had.
    struct Source {
        const QImage* pImage = nullptr;
        QRect rect;
    };
    Source Find(const QRect& part, QPoint at);

private:
    using Key = std::tuple<int, int, int, int, double, double>;

    SheetArt m_art;
    CDeviceGrid m_grid;
    QImage::Format m_format = QImage::Format_RGB32;
    bool m_bRead = false;
    QImage m_imgSheet;             // the resource's picture, at the ratios it is drawn for
    std::map<Key, QImage> m_parts; // parts drawn for their phase, at any other ratio
};
