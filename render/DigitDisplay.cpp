#include "render/DigitDisplay.h"

#include <string_view>

#include "render/Palette.h"
#include "render/PanelArt.h"
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

void CDigitDisplay::Attach(CPictureSurface* pSurface) {
    m_link.Attach(pSurface, SheetArt{kGlyphSheetResource, &DrawGlyphSheetPart});
    m_rcValue = QRect();
    m_rcUnit = QRect();
    m_strUnit.clear();
}

int CDigitDisplay::GlyphIndex(char ch) {
    const size_t index = kGlyphOrder.find(ch);
    return index == std::string_view::npos ? kBlankGlyph : static_cast<int>(index);
}

void CDigitDisplay::DrawValue(int x, int y, const char* text) {
    if (m_link.Surface() == nullptr || text == nullptr) {
        return;
    }
    const int rowTop = kGlyphHeight * m_nColorRow;
    int cursor = 0;
    {
        CSurfaceLink::CComposer composer(m_link, QPoint(x, y));
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
    const QRect copied = cursor > 0
                             ? m_link.CopyToSurface(QRect(0, 0, cursor, kGlyphHeight), QPoint(x, y))
                             : QRect();
    QRect changed = copied;
    // Cells that only the previous value covered: the printed panel, and the unit's letters where
    // its cell lies there (a value of six cells reaches into the unit's frame).
    if (!m_rcValue.isEmpty() && !copied.contains(m_rcValue)) {
        const QRegion uncovered = QRegion(m_rcValue).subtracted(QRegion(copied));
        changed |= m_link.RestorePanel(uncovered);
        changed |= WriteUnit(uncovered);
    }
    m_rcValue = copied;
    m_ptValue = QPoint(x, y);
    m_link.Repaint(changed);
}

void CDigitDisplay::DrawUnit(int x, int y, const char* text) {
    if (m_link.Surface() == nullptr || text == nullptr) {
        return;
    }
    // Texts are the program's 8-bit strings, in the locale's encoding like the rest of its UI.
    const QString unit = QString::fromLocal8Bit(text);
    const QPoint origin(x, y);
    const CSurfaceLink::TextPlace place = m_link.PlaceText(origin, unit);
    const QRect area = place.area.intersected(m_link.ClientRect());
    // What the previous unit painted outside the new cell gives way to what lies beneath, and so
    // does the ground of the new letters beyond their cell: drawn afresh on it each time, their
    // smoothed edges do not thicken from one drawing to the next.
    QRect changed = RestoreBeneathUnit((QRegion(m_rcUnit) + area).subtracted(place.cell));
    m_rcUnit = area;
    m_ptUnit = origin;
    m_strUnit = unit;
    changed |= WriteUnit(QRegion(area));
    m_link.Repaint(changed);
}

QRect CDigitDisplay::RestoreBeneathUnit(const QRegion& region) {
    if (region.isEmpty()) {
        return {};
    }
    QRect changed = m_link.RestorePanel(region);
    for (const QRect& rect : region.intersected(m_rcValue)) {
        changed |= m_link.CopyToSurface(rect.translated(-m_ptValue), rect.topLeft());
    }
    return changed;
}

QRect CDigitDisplay::WriteUnit(const QRegion& clip) {
    CPictureSurface* pSurface = m_link.Surface();
    if (pSurface == nullptr || m_strUnit.isEmpty() || !clip.intersects(m_rcUnit)) {
        return {};
    }
    const QColor oldText = pSurface->textColor;
    const QColor oldBack = pSurface->backColor;
    pSurface->backColor = QColor(kUnitBack);
    pSurface->textColor = QColor(kUnitText);
    const QRect changed = m_link.WriteText(m_ptUnit, m_strUnit, clip);
    pSurface->textColor = oldText;
    pSurface->backColor = oldBack;
    return changed;
}

void CDigitDisplay::Detach() {
    if (m_link.Surface() == nullptr) {
        return;
    }
    m_nColorRow = 0;
    m_link.Detach();
}
