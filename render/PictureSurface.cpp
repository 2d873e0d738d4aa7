#include "render/PictureSurface.h"

#include "render/Artwork.h"
#include "render/Resources.h"

namespace {

constexpr double kMetresPerInch = 0.0254;

} // namespace

QImage LoadSurfacePicture(const QString& resource, double ratio, int logicalDpi) {
    const int scale = ArtworkScaleExactly(ratio);
    QImage image;
    if (scale == 0 && resource == QLatin1String(kPanelResource)) {
        image = DrawFrontPanel(ratio);
    } else {
        const int nearest = scale > 0 ? scale : ArtworkScale(ratio);
        image = LoadArtwork(ArtworkPath(resource, nearest)).convertToFormat(QImage::Format_RGB32);
    }
    if (image.isNull()) {
        return image;
    }
    image.setDevicePixelRatio(1.0);
    // A painter takes a font's size in pixels from the resolution of what it paints on. The
    // artwork files declare one of their own (100 dpi), which would write the unit larger than
    // the window's text and larger than the cell measured for it.
    const int dotsPerMetre = qRound(logicalDpi / kMetresPerInch);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    return image;
}
