#include "ui/DialogUnits.h"

#include <QFontMetrics>
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
    // Debian's fonts-baekmuk carries a Gulim of its own; fonts-nanum is the common fallback.
    QFont::insertSubstitutions(QStringLiteral("Gulim"),
                               QStringList{QStringLiteral("Baekmuk Gulim"),
                                           QStringLiteral("NanumGothic"), QStringLiteral("UnDotum"),
                                           QStringLiteral("Noto Sans CJK KR")});
}

QFont DialogFont() {
    InstallDialogFontSubstitutes();
    QFont font(QStringLiteral("Gulim"));
    font.setPointSize(9);
    return font;
}

CDialogUnits CDialogUnits::FromFont(const QFont& font) {
    const QFontMetrics metrics(font);
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const int width = metrics.horizontalAdvance(letters);
    // Average over 52 letters, rounded: (width / 26 + 1) / 2.
    return CDialogUnits((width / 26 + 1) / 2, metrics.height());
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
