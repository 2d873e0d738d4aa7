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

// While it lives, the application's default font is the dialog font; the desktop's comes back
// when it ends, for the message boxes and tool tips. A window builds its controls inside one: a
// line edit lays out its first, empty text in the default font before it takes its own, and
// the desktop's font would be read from disk for that alone, a millisecond of the start-up that
// no window shows. Only the default changes; no widget hears of it, and fonts the desktop gives
// to particular classes of widgets stay as they are.
class CDialogFontScope {
public:
    CDialogFontScope();
    ~CDialogFontScope();
    CDialogFontScope(const CDialogFontScope&) = delete;
    CDialogFontScope& operator=(const CDialogFontScope&) = delete;

private:
    QFont m_desktopFont;
};

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
