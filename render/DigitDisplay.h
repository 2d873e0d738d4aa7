#pragma once

#include "render/PictureSurface.h"
#include "render/SurfaceLink.h"

// Draws the meter's value in seven-segment digits copied from the glyph sheet, and the unit
// text, onto the front-panel picture. A value is composed off-screen and reaches the picture in
// one copy, so the picture never shows half a value.
class CDigitDisplay {
public:
    CDigitDisplay();
    virtual ~CDigitDisplay();
    CDigitDisplay(const CDigitDisplay&) = delete;
    CDigitDisplay& operator=(const CDigitDisplay&) = delete;

    // Binds to the picture and loads the glyph sheet; made once, before any drawing.
    void Attach(CPictureSurface* pWnd);
    // The sheet cell of a character: "." 0, "0".."9" 1..10, "-" 11, anything else blank (12).
    static int GlyphIndex(char ch);
    // Draws `text` as glyphs with its top left corner at (x, y). A point lights the point of the
    // cell before it; only a leading point takes a cell of its own.
    void DrawValue(int x, int y, const char* text);
    // Writes `text` white on black at (x, y), leaving the surface's colours as they were.
    void DrawUnit(int x, int y, const char* text);
    void Detach();

    int m_nColorRow = 0; // glyph sheet row: 0 green, 1 red, 2 yellow

private:
    CSurfaceLink m_link;
};
