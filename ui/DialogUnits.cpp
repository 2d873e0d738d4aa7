#include "ui/DialogUnits.h"

#include <QFontInfo>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QString>
#include <QStringList>

namespace {

// x * numerator / denominator rounded to the nearest integer, halves away from zero.
int MulDiv(int x, int numerator, int denominator) {
    const long long product = static_cast<long long>(x) * numerator;
    const long long half = denominator / 2;
    return static_cast<int>(product >= 0 ? (product + half) / denominator
                                         : (product - half) / denominator);
}

} // namespace

void InstallDialogFontSubstitutes() {
    // NanumBarunGothic first: at 9 pt its Latin letters have Gulim's average width (7 px), so the
    // layouts keep the proportions they were drawn with (the right column starts just right of
    // the 264-pixel panel), and its full stop sits on the baseline with the digits. NanumGothic
    // has the same widths, but its outlines hang about half a pixel below the baseline at 12 px:
    // the desktop's usual light hinting lifts the digits onto the baseline and drops the full
    // stop a pixel under it, where "750.5" reads as "750,5". Baekmuk Gulim's letters are wider
    // (8 px) and would open a gap.
    QFont::insertSubstitutions(
        QStringLiteral("Gulim"),
        QStringList{QStringLiteral("NanumBarunGothic"), QStringLiteral("NanumGothic"),
                    QStringLiteral("Baekmuk Gulim"), QStringLiteral("UnDotum"),
                    QStringLiteral("Noto Sans CJK KR")});
}

QFont DialogFont() {
    InstallDialogFontSubstitutes();
    QFont font(QStringLiteral("Gulim"));
    font.setPointSize(9);
    return font;
}

CDialogFontScope::CDialogFontScope() : m_desktopFont(QGuiApplication::font()) {
    // QGuiApplication's own setter: QApplication's would also drop the fonts the desktop gives
    // to particular classes of widgets, and tell every widget.
    QGuiApplication::setFont(DialogFont());
}

CDialogFontScope::~CDialogFontScope() {
    QGuiApplication::setFont(m_desktopFont);
}

CDialogUnits CDialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    // Average over 52 letters, rounded: (width / 26 + 1) / 2. The vertical unit is the font's em
    // height in pixels: the layouts were drawn for a font whose ascent plus descent is its em
    // (12 px at 9 pt); a substitute with more generous line spacing would otherwise stretch every
    // window downwards and open a gap under the front panel.
    const int emHeight = QFontInfo(font).pixelSize();
    return CDialogUnits((width / 26 + 1) / 2, emHeight > 0 ? emHeight : metrics.height());
}

int CDialogUnits::ToPixelsX(int dialogUnits) const {
    return MulDiv(dialogUnits, m_nBaseX, 4);
}

int CDialogUnits::ToPixelsY(int dialogUnits) const {
    return MulDiv(dialogUnits, m_nBaseY, 8);
}

QRect CDialogUnits::ToPixels(int x, int y, int width, int height) const {
    const int left = ToPixelsX(x);
    const int top = ToPixelsY(y);
    // Right and bottom edges are converted as positions, so adjacent controls stay adjacent.
    return {left, top, ToPixelsX(x + width) - left, ToPixelsY(y + height) - top};
}
