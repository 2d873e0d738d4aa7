#include "render/DigitDisplay.h"

#include <string_view>

#include "render/Palette.h"
#include "render/PanelLayout.h"
#include "render/Resources.h"

namespace {

constexpr std::string_view kGlyphOrder = ".0123456789- ";
constexpr int kBlankGlyph = 12;

} // namespace

CDigitDisplay::CDigitDisplay() = default;

CDigitDisplay::~CDigitDisplay() {
    Detach();
}

void CDigitDisplay::Attach(CPictureSurface* pWnd) {
    m_link.Attach(pWnd, kGlyphSheetResource);
}

int CDigitDisplay::GlyphIndex(char ch) {
    const size_t index = kGlyphOrder.find(ch);
    return index == std::string_view::npos ? kBlankGlyph : static_cast<int>(index);
}

void CDigitDisplay::DrawValue(int x, int y, const char* text) {
    if (m_link.Window() == nullptr || text == nullptr) {
        return;
    }
    const int rowTop = kGlyphHeight * m_nColorRow;
    int cursor = 0;
    {
        CSurfaceLink::CComposer composer(m_link);
        const std::string_view value(text);
        for (size_t i = 0; i < value.size(); ++i) {
            const char ch = value[i];
            const int glyph = GlyphIndex(ch);
            if (ch == '.' && i > 0) {
                // The lit point of cell 0 onto the point of the cell composed last.
                composer.CopyFromSheet(
                    QRect(kGlyphWidth * glyph + kPointX, rowTop + kPointY, kPointSize, kPointSize),
                    QPoint(cursor - kGlyphWidth + kPointX, kPointY));
                continue;
            }
            composer.CopyFromSheet(QRect(kGlyphWidth * glyph, rowTop, kGlyphWidth, kGlyphHeight),
                                   QPoint(cursor, 0));
            cursor += kGlyphWidth;
        }
    }
    if (cursor > 0) {
        m_link.CopyToWindow(QRect(0, 0, cursor, kGlyphHeight), QPoint(x, y));
    }
}

void CDigitDisplay::DrawUnit(int x, int y, const char* text) {
    CPictureSurface* pWnd = m_link.Window();
    if (pWnd == nullptr || text == nullptr) {
        return;
    }
    const QColor oldText = pWnd->textColor;
    const QColor oldBack = pWnd->backColor;
    pWnd->backColor = QColor(kUnitBack);
    pWnd->textColor = QColor(kUnitText);
    // Texts are the program's 8-bit strings, in the locale's encoding like the rest of its UI.
    m_link.WriteText(QPoint(x, y), QString::fromLocal8Bit(text));
    pWnd->textColor = oldText;
    pWnd->backColor = oldBack;
}

void CDigitDisplay::Detach() {
    if (m_link.Window() == nullptr) {
        return;
    }
    m_nColorRow = 0;
    m_link.Detach();
}
