#include "render/Artwork.h"

#include <QImageReader>
#include <QPixmap>

#include "render/Resources.h"

QImage LoadArtwork(const QString& path) {
    QImageReader reader(path, QByteArrayLiteral("png"));
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

QIcon LoadArtworkIcon(const QString& resource) {
    QIcon icon;
    for (const int scale : {1, 2}) {
        QPixmap pixmap = QPixmap::fromImage(LoadArtwork(ArtworkPath(resource, scale)));
        if (!pixmap.isNull()) {
            pixmap.setDevicePixelRatio(scale);
            icon.addPixmap(pixmap);
        }
    }
    return icon;
}
