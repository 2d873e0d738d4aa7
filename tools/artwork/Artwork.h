#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <vector>

#include "render/PanelArt.h"

// Every picture of the program, drawn from this source and from the front panel's art, which the
// program shares (render/PanelArt.h: the panel, resource 135, and its sheets, 137 and 138). Each
// function draws the same pixels on every run. `scale` is the device pixel ratio the picture is
// drawn for, 1 or 2: the same picture, `scale` times as wide and high, drawn at that resolution
// rather than enlarged.
QImage MakeDecoration(int scale = 1); // resource 130, the badge at the top right of the window
QImage MakeIcon(int scale = 1);       // resource 128
// The same icon, `size` pixels square, for the desktop's icon theme (16 to 256).
QImage MakeIconOfSize(int size);
inline constexpr std::array<int, 7> kThemeIconSizes = {16, 24, 32, 48, 64, 128, 256};

struct ArtworkFile {
    // Named by the resource number, e.g. "137_glyphs.png", and "137_glyphs@2x.png" for scale 2.
    QString fileName;
    QImage image;
};

// Every picture at scales 1 and 2.
std::vector<ArtworkFile> MakeAllArtwork();
