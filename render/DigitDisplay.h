#pragma once

#include <QPoint>
#include <QRect>
#include <QRegion>
#include <QString>

#include "render/PictureSurface.h"
#include "render/SurfaceLink.h"

// Draws the meter's value in seven-segment digits copied from the glyph sheet, and the unit
// text, onto the front-panel picture. A value is composed off-screen and reaches the picture in
// one copy, so the picture never shows half a value.
//
// The picture never shows a digit or a letter that is not the current reading: a value narrower
// than the one before puts the printed panel back in the cells that only the earlier value
// covered, and a unit puts back what lay beneath the earlier unit's letters, both in the same
// repaint as the new drawing.
class CDigitDisplay {
public:
    CDigitDisplay();
    virtual ~CDigitDisplay();
    CDigitDisplay(const CDigitDisplay&) = delete;
    CDigitDisplay& operator=(const CDigitDisplay&) = delete;

    // Binds to the picture and loads the glyph sheet; made once, before any drawing.
    void Attach(CPictureSurface* pSurface);
    // The sheet cell of a character: "." 0, "0".."9" 1..10, "-" 11, anything else blank (12).
    static int GlyphIndex(char ch);
    // Draws `text` as glyphs with its top left corner at (x, y). A point lights the point of the
    // cell before it; only a leading point takes a cell of its own. Cells of the previous value
    // that this one leaves uncovered show the printed panel again, with the unit where its cell
    // reaches into them.
    void DrawValue(int x, int y, const char* text);
    // Writes `text` white on black at (x, y), leaving the surface's colours as they were. What
    // the previous unit covered outside the new one shows what lies beneath: the printed panel,
    // and the value where its cells reach.
    void DrawUnit(int x, int y, const char* text);
    // Whether the last value's cells lie over what the last unit painted (a value of six cells
    // reaches into the unit's frame): the unit is to be written over them again.
    bool ValueCoversUnit() const { return m_rcValue.intersects(m_rcUnit); }
    void Detach();

    int m_nColorRow = 0; // glyph sheet row: 0 green, 1 red, 2 yellow

private:
    // Writes the unit drawn last, within `clip` only. Returns what changed.
    QRect WriteUnit(const QRegion& clip);
    // Puts back what lies beneath the unit inside `region`: the printed panel, and the value
    // where its cells reach. Returns what changed.
    QRect RestoreBeneathUnit(const QRegion& region);

    CSurfaceLink m_link;
    // What this display has on the picture, in picture pixels: the last value's copy and the
    // origin of its strip, all that the last unit painted (its cell and its letters), its
    // position and text.
    QRect m_rcValue;
    QPoint m_ptValue;
    QRect m_rcUnit;
    QPoint m_ptUnit;
    QString m_strUnit;
};
