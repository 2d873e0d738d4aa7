#pragma once

#include <QImage>
#include <QString>
#include <array>
#include <vector>

// Every picture of the program, drawn from this source. Each function draws the same pixels on
// every run. `scale` is the device pixel ratio the picture is drawn for, 1 or 2: the same
// picture, `scale` times as wide and high, drawn at that resolution rather than enlarged.
QImage MakeGlyphSheet(int scale = 1); // resource 137, 312 x 144
QImage MakeLampSheet(int scale = 1);  // resource 138, 96 x 30
// Resource 135, 264 x 104. The printed digit cells and lamp bars are copied from the sheets of
// the same scale so that they are pixel-identical to the blank glyph and to the dark green bar.
QImage MakeFrontPanel(const QImage& glyphSheet, const QImage& lampSheet, int scale = 1);
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
