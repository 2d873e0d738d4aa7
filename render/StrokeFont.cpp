#include "render/StrokeFont.h"

#include <QPainterPath>
#include <QPen>
#include <algorithm>
#include <array>

namespace {

constexpr double kGridHeight = 12.0;
constexpr double kLetterGap = 3.0; // grid units between letters
constexpr double kSpaceWidth = 5.0;

struct StrokeGlyph {
    char ch;
    // Points as two base-13 digits (x 0..8, y 0..c), a space between points, '|' between
    // strokes.
    std::string_view strokes;
};

// clang-format off
constexpr std::array kGlyphs = {
    StrokeGlyph{'A', "0c 02 20 60 82 8c|07 87"},
    StrokeGlyph{'C', "82 60 20 02 0a 2c 6c 8a"},
    StrokeGlyph{'D', "00 50 82 8a 5c 0c 00"},
    StrokeGlyph{'E', "80 00 0c 8c|06 56"},
    StrokeGlyph{'H', "00 0c|80 8c|06 86"},
    StrokeGlyph{'I', "00 0c"},
    StrokeGlyph{'L', "00 0c 8c"},
    StrokeGlyph{'M', "0c 00 47 80 8c"},
    StrokeGlyph{'N', "0c 00 8c 80"},
    StrokeGlyph{'O', "20 60 82 8a 6c 2c 0a 02 20"},
    StrokeGlyph{'P', "0c 00 60 82 84 66 06"},
    StrokeGlyph{'Q', "20 60 82 8a 6c 2c 0a 02 20|59 8c"},
    StrokeGlyph{'R', "0c 00 60 82 84 66 06|46 8c"},
    StrokeGlyph{'S', "82 60 20 02 04 26 66 88 8a 6c 2c 0a"},
    StrokeGlyph{'T', "00 80|40 4c"},
    StrokeGlyph{'U', "00 0a 2c 6c 8a 80"},
    StrokeGlyph{'V', "00 4c 80"},
    StrokeGlyph{'X', "00 8c|80 0c"},
    StrokeGlyph{'0', "20 60 82 8a 6c 2c 0a 02 20"},
    StrokeGlyph{'1', "23 40 4c"},
    StrokeGlyph{'2', "02 20 60 82 84 0c 8c"},
    StrokeGlyph{'3', "02 20 60 82 84 66 88 8a 6c 2c 0a|36 66"},
    StrokeGlyph{'4', "6c 60 08 88"},
    StrokeGlyph{'5', "80 00 05 65 87 8a 6c 2c 0a"},
    StrokeGlyph{'7', "00 80 82 3c"},
    StrokeGlyph{'8', "26 04 02 20 60 82 84 66 26 08 0a 2c 6c 8a 88 66"},
    StrokeGlyph{'-', "06 66"},
};
// clang-format on

int Digit(char c) {
    return c <= '9' ? c - '0' : c - 'a' + 10;
}

const StrokeGlyph* Find(char ch) {
    const auto* it = std::find_if(kGlyphs.begin(), kGlyphs.end(),
                                  [ch](const StrokeGlyph& g) { return g.ch == ch; });
    return it == kGlyphs.end() ? nullptr : &*it;
}

// Width of a glyph on the grid: its rightmost point.
double GridWidth(const StrokeGlyph& glyph) {
    int widest = 0;
    for (size_t i = 0; i + 1 < glyph.strokes.size(); i += 3) {
        widest = std::max(widest, Digit(glyph.strokes[i]));
    }
    return widest;
}

QPainterPath GlyphPath(const StrokeGlyph& glyph, QPointF origin, double scale) {
    QPainterPath path;
    bool bStart = true;
    for (size_t i = 0; i < glyph.strokes.size(); ++i) {
        const char c = glyph.strokes[i];
        if (c == '|') {
            bStart = true;
            continue;
        }
        if (c == ' ' || i + 1 >= glyph.strokes.size()) {
            continue;
        }
        const QPointF p = origin + QPointF(Digit(c), Digit(glyph.strokes[i + 1])) * scale;
        ++i;
        if (bStart) {
            path.moveTo(p);
            bStart = false;
        } else {
            path.lineTo(p);
        }
    }
    return path;
}

double Advance(char ch, double scale, const StrokeStyle& style) {
    const StrokeGlyph* glyph = Find(ch);
    const double grid = glyph == nullptr ? kSpaceWidth : GridWidth(*glyph) + kLetterGap;
    return grid * scale + style.tracking;
}

} // namespace

double StrokeTextWidth(std::string_view text, const StrokeStyle& style) {
    const double scale = style.capHeight / kGridHeight;
    double width = 0.0;
    for (char ch : text) {
        width += Advance(ch, scale, style);
    }
    // The last letter ends at its strokes, not after a gap.
    return text.empty() ? 0.0 : width - kLetterGap * scale - style.tracking;
}

void DrawStrokeText(QPainter& painter, QPointF origin, std::string_view text,
                    const StrokeStyle& style) {
    const double scale = style.capHeight / kGridHeight;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(style.color, style.weight, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    QPointF cursor = origin;
    for (char ch : text) {
        if (const StrokeGlyph* glyph = Find(ch)) {
            painter.drawPath(GlyphPath(*glyph, cursor, scale));
        }
        cursor.rx() += Advance(ch, scale, style);
    }
    painter.restore();
}
