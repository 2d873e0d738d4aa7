#include "tools/artwork/Artwork.h"

namespace {

QString FileName(const char* stem, int scale) {
    const QString name = QString::fromLatin1(stem);
    return scale == 1 ? name + QStringLiteral(".png")
                      : name + QStringLiteral("@%1x.png").arg(scale);
}

} // namespace

std::vector<ArtworkFile> MakeAllArtwork() {
    std::vector<ArtworkFile> files;
    for (const int scale : {1, 2}) {
        files.push_back({FileName("128_icon", scale), MakeIcon(scale)});
        files.push_back({FileName("130_decoration", scale), MakeDecoration(scale)});
        files.push_back({FileName("135_panel", scale), MakeFrontPanel(scale)});
        files.push_back({FileName("137_glyphs", scale), MakeGlyphSheet(scale)});
        files.push_back({FileName("138_lamps", scale), MakeLampSheet(scale)});
    }
    // The desktop's icon theme: icons/icon-<size>.png, installed under the program's desktop id.
    for (const int size : kThemeIconSizes) {
        files.push_back({QStringLiteral("icons/icon-%1.png").arg(size), MakeIconOfSize(size)});
    }
    return files;
}
