#pragma once

#include <QString>

// The artwork compiled into the program, one PNG per bitmap or icon resource, named by its
// resource number. The images are drawn by tools/artwork (qd7-artwork) and committed in res/.
// Beside each one lies the same picture drawn for a device pixel ratio of 2, named with "@2x".
inline constexpr const char* kIconResource = ":/res/128_icon.png";
inline constexpr const char* kDecorationResource = ":/res/130_decoration.png";
inline constexpr const char* kPanelResource = ":/res/135_panel.png";
inline constexpr const char* kGlyphSheetResource = ":/res/137_glyphs.png";
inline constexpr const char* kLampSheetResource = ":/res/138_lamps.png";

// The artwork in the resources is drawn for ratios 1 and 2. The front panel and its sheets are
// drawn by the program for any other ratio; the other pictures, on a screen in between or beyond,
// take the nearer picture from above where there is one, so that they are reduced rather than
// blown up.
inline int ArtworkScale(double devicePixelRatio) {
    return devicePixelRatio > 1.0 ? 2 : 1;
}

// The scale of the resources' picture drawn for exactly `devicePixelRatio`, or 0 when they hold
// none for it.
inline int ArtworkScaleExactly(double devicePixelRatio) {
    return devicePixelRatio == 1.0 ? 1 : devicePixelRatio == 2.0 ? 2 : 0;
}

// The resource path of `resource` drawn for `scale` (1 or 2): "135_panel.png" or
// "135_panel@2x.png".
inline QString ArtworkPath(const QString& resource, int scale) {
    QString path = resource;
    if (scale > 1 && path.endsWith(QStringLiteral(".png"))) {
        path.insert(path.size() - 4, QStringLiteral("@%1x").arg(scale));
    }
    return path;
}

inline QString ArtworkPath(const char* resource, int scale) {
    return ArtworkPath(QString::fromLatin1(resource), scale);
}
