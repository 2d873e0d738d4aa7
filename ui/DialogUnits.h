#pragma once

#include <QFont>
#include <QRect>

// Dialog layouts are given in dialog units: a quarter of the dialog font's average character width
// horizontally and an eighth of its height vertically. These helpers turn them into pixels the way
// the layouts were drawn, so that a window keeps its proportions whatever font is installed.

// Makes "Gulim", the dialog font of every window, resolve to an installed Korean family; without
// one, Hangul texts would render as empty boxes. Safe to call more than once.
void InstallDialogFontSubstitutes();

// The dialog font: "Gulim" 9 pt (substitutes installed).
QFont DialogFont();

class CDialogUnits {
public:
    // bx = average width of "A".."Z" "a".."z" in the font, rounded; by = the font's em height in
    // pixels.
    static CDialogUnits FromFont(const QFont& font);
    CDialogUnits(int baseX, int baseY) : m_nBaseX(baseX), m_nBaseY(baseY) {}

    int ToPixelsX(int dialogUnits) const;
    int ToPixelsY(int dialogUnits) const;
    QRect ToPixels(int x, int y, int width, int height) const;

    int m_nBaseX;
    int m_nBaseY;
};
