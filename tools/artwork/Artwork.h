#pragma once

#include <QImage>
#include <QString>
#include <vector>

// Every picture of the program, drawn from this source. Each function draws the same pixels on
// every run.
QImage MakeGlyphSheet(); // resource 137, 312 x 144
QImage MakeLampSheet();  // resource 138, 96 x 30
// Resource 135, 264 x 104. The printed digit cells and lamp bars are copied from the sheets so
// that they are pixel-identical to the blank glyph and to the dark green bar.
QImage MakeFrontPanel(const QImage& glyphSheet, const QImage& lampSheet);
QImage MakeDecoration(); // resource 130, the badge at the top right of the main window
QImage MakeIcon();       // resource 128

struct ArtworkFile {
    QString fileName; // named by the resource number, e.g. "137_glyphs.png"
    QImage image;
};

std::vector<ArtworkFile> MakeAllArtwork();
