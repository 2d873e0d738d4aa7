#include "tools/artwork/Artwork.h"

std::vector<ArtworkFile> MakeAllArtwork() {
    const QImage glyphs = MakeGlyphSheet();
    const QImage lamps = MakeLampSheet();
    return {
        {QStringLiteral("128_icon.png"), MakeIcon()},
        {QStringLiteral("130_decoration.png"), MakeDecoration()},
        {QStringLiteral("135_panel.png"), MakeFrontPanel(glyphs, lamps)},
        {QStringLiteral("137_glyphs.png"), glyphs},
        {QStringLiteral("138_lamps.png"), lamps},
    };
}
