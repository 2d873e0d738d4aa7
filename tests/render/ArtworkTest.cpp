// The committed artwork, loaded through the resource system as the program loads it: fixed
// sizes, the glyph cell grid and colours, the lamp bars, and the panel's printed cells and bars.
#include <QImage>
#include <QPoint>
#include <algorithm>
#include <array>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "render/Resources.h"

namespace {

constexpr QRgb kBackground = qRgb(4, 4, 4);
constexpr std::array<QRgb, 3> kLit = {qRgb(0, 255, 0), qRgb(255, 0, 0), qRgb(255, 255, 0)};
constexpr std::array<QRgb, 3> kDim = {qRgb(0, 51, 0), qRgb(51, 0, 0), qRgb(51, 51, 0)};

QImage Load(const char* resource) {
    return QImage(resource).convertToFormat(QImage::Format_RGB32);
}

QImage Cell(const QImage& sheet, int row, int glyph) {
    return sheet.copy(24 * glyph, 48 * row, 24, 48);
}

TEST(Artwork, ResourcesLoadWithTheirSizes) {
    struct Case {
        const char* resource;
        QSize size;
    };
    for (const Case& c :
         {Case{kPanelResource, QSize(264, 104)}, Case{kGlyphSheetResource, QSize(312, 144)},
          Case{kLampSheetResource, QSize(96, 30)}}) {
        SCOPED_TRACE(c.resource);
        const QImage image(c.resource);
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), c.size);
    }
    // Sizes of the icon and the decoration are the artwork's own; they must load and be drawn.
    for (const char* resource : {kIconResource, kDecorationResource}) {
        SCOPED_TRACE(resource);
        const QImage image(resource);
        ASSERT_FALSE(image.isNull());
        EXPECT_FALSE(image.allGray());
    }
}

TEST(Artwork, GlyphCellsUseOnlyTheirRowsColours) {
    const QImage sheet = Load(kGlyphSheetResource);
    for (int y = 0; y < sheet.height(); ++y) {
        const size_t row = static_cast<size_t>(y / 48);
        for (int x = 0; x < sheet.width(); ++x) {
            const QRgb c = sheet.pixel(x, y);
            ASSERT_TRUE(c == kBackground || c == kDim[row] || c == kLit[row])
                << "pixel " << x << "," << y << " is " << std::hex << c;
        }
    }
}

TEST(Artwork, EveryCellShowsTheSameSegmentsLitOrUnlit) {
    const QImage sheet = Load(kGlyphSheetResource);
    const QImage reference = Cell(sheet, 0, 12);
    for (int row = 0; row < 3; ++row) {
        for (int glyph = 0; glyph < 13; ++glyph) {
            const QImage cell = Cell(sheet, row, glyph);
            for (int y = 0; y < 48; ++y) {
                for (int x = 0; x < 24; ++x) {
                    ASSERT_EQ(cell.pixel(x, y) == kBackground, reference.pixel(x, y) == kBackground)
                        << "row " << row << " cell " << glyph << " at " << x << "," << y;
                }
            }
        }
    }
}

// The segment shapes are the artwork's; which of them a glyph lights is not. Segments are
// found as the connected shapes of the blank cell and named by where they sit.
class GlyphSegments : public ::testing::Test {
protected:
    void SetUp() override {
        m_imgSheet = Load(kGlyphSheetResource);
        const QImage blank = Cell(m_imgSheet, 1, 12);
        std::vector<std::vector<int>> label(48, std::vector<int>(24, -1));
        for (int y = 0; y < 48; ++y) {
            for (int x = 0; x < 24; ++x) {
                if (blank.pixel(x, y) == kBackground || label[y][x] >= 0) {
                    continue;
                }
                m_shapes.push_back(Fill(blank, label, x, y, static_cast<int>(m_shapes.size())));
            }
        }
    }

    static std::vector<QPoint> Fill(const QImage& cell, std::vector<std::vector<int>>& label,
                                    int x0, int y0, int id) {
        std::vector<QPoint> shape;
        std::vector<QPoint> todo{QPoint(x0, y0)};
        label[y0][x0] = id;
        while (!todo.empty()) {
            const QPoint p = todo.back();
            todo.pop_back();
            shape.push_back(p);
            for (const QPoint d : {QPoint(1, 0), QPoint(-1, 0), QPoint(0, 1), QPoint(0, -1)}) {
                const QPoint q = p + d;
                if (q.x() >= 0 && q.x() < 24 && q.y() >= 0 && q.y() < 48 &&
                    label[q.y()][q.x()] < 0 && cell.pixel(q) != kBackground) {
                    label[q.y()][q.x()] = id;
                    todo.push_back(q);
                }
            }
        }
        return shape;
    }

    // "a".."g" for the segments, "." for the point, by the shape's box and centre.
    static std::string Name(const std::vector<QPoint>& shape) {
        int x0 = 24, x1 = 0, y0 = 48, y1 = 0;
        double cx = 0, cy = 0;
        for (const QPoint p : shape) {
            x0 = std::min(x0, p.x());
            x1 = std::max(x1, p.x());
            y0 = std::min(y0, p.y());
            y1 = std::max(y1, p.y());
            cx += p.x();
            cy += p.y();
        }
        cx /= static_cast<double>(shape.size());
        cy /= static_cast<double>(shape.size());
        if (x0 == 21 && x1 == 23 && y0 == 43 && y1 == 45 && shape.size() == 9) {
            return ".";
        }
        if (x1 - x0 > y1 - y0) {
            return cy < 16 ? "a" : cy < 32 ? "g" : "d";
        }
        if (cx > 12) {
            return cy < 24 ? "b" : "c";
        }
        return cy < 24 ? "f" : "e";
    }

    // The names of the shapes lit in a cell of colour row `row`.
    std::string Lit(int row, int glyph) const {
        const QImage cell = Cell(m_imgSheet, row, glyph);
        std::set<std::string> names;
        for (const auto& shape : m_shapes) {
            const bool bLit = cell.pixel(shape.front()) == kLit[static_cast<size_t>(row)];
            for (const QPoint p : shape) {
                EXPECT_EQ(cell.pixel(p) == kLit[static_cast<size_t>(row)], bLit)
                    << "segment half lit in row " << row << " cell " << glyph;
            }
            if (bLit) {
                names.insert(Name(shape));
            }
        }
        std::string result;
        for (const auto& n : names) {
            result += n;
        }
        return result;
    }

    QImage m_imgSheet;
    std::vector<std::vector<QPoint>> m_shapes;
};

TEST_F(GlyphSegments, SevenSegmentsAndAPoint) {
    std::multiset<std::string> names;
    for (const auto& shape : m_shapes) {
        names.insert(Name(shape));
    }
    EXPECT_EQ(names, (std::multiset<std::string>{".", "a", "b", "c", "d", "e", "f", "g"}));
}

TEST_F(GlyphSegments, EachCellLightsItsCharacter) {
    // Names sorted as std::set orders them: "." first.
    const std::array<std::string, 13> expected = {".",      "abcdef", "bc",     "abdeg", "abcdg",
                                                  "bcfg",   "acdfg",  "acdefg", "abc",   "abcdefg",
                                                  "abcdfg", "g",      ""};
    for (int row = 0; row < 3; ++row) {
        for (int glyph = 0; glyph < 13; ++glyph) {
            EXPECT_EQ(Lit(row, glyph), expected[static_cast<size_t>(glyph)])
                << "row " << row << " cell " << glyph;
        }
    }
}

TEST(Artwork, LampBarsAreBevelledInTheirStateColour) {
    const QImage sheet = Load(kLampSheetResource);
    const std::array<QRgb, 4> fill = {qRgb(255, 0, 0), qRgb(0, 255, 0), qRgb(0, 128, 0),
                                      qRgb(255, 255, 0)};
    const auto brightness = [](QRgb c) { return qRed(c) + qGreen(c) + qBlue(c); };
    for (int s = 0; s < 4; ++s) {
        SCOPED_TRACE(s);
        const QImage bar = sheet.copy(24 * s, 24, 24, 6);
        const QRgb f = fill[static_cast<size_t>(s)];
        for (int x = 2; x <= 21; ++x) {
            EXPECT_EQ(bar.pixel(x, 2), f);
            EXPECT_EQ(bar.pixel(x, 3), f);
            EXPECT_GT(brightness(bar.pixel(x, 1)), brightness(f)) << "lighter line above";
            EXPECT_LT(brightness(bar.pixel(x, 4)), brightness(f)) << "darker line below";
            EXPECT_EQ(bar.pixel(x, 0), qRgb(4, 4, 4)) << "outline along the top";
            EXPECT_GE(qRed(bar.pixel(x, 5)), 200) << "light bottom row";
            EXPECT_GE(qGreen(bar.pixel(x, 5)), 200);
            EXPECT_GE(qBlue(bar.pixel(x, 5)), 200);
        }
        for (int y = 0; y < 5; ++y) {
            EXPECT_EQ(bar.pixel(0, y), qRgb(4, 4, 4)) << "outline along the left";
        }
        for (int y = 2; y <= 3; ++y) {
            EXPECT_GT(brightness(bar.pixel(1, y)), brightness(f)) << "lighter line at the left";
            EXPECT_LT(brightness(bar.pixel(22, y)), brightness(f)) << "darker line at the right";
        }
        for (int y = 0; y < 6; ++y) {
            EXPECT_EQ(bar.pixel(23, y), qRgb(255, 255, 255)) << "white right column";
        }
    }
}

TEST(Artwork, PanelPrintsTheBlankCellsAndTheDarkGreenBars) {
    const QImage panel = Load(kPanelResource);
    const QImage blank = Cell(Load(kGlyphSheetResource), 1, 12);
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(panel.copy(73 + 24 * k, 34, 24, 48), blank) << "cell " << k;
    }
    const QImage darkGreen = Load(kLampSheetResource).copy(48, 24, 24, 6);
    EXPECT_EQ(panel.copy(4, 85, 24, 6), darkGreen);
    EXPECT_EQ(panel.copy(4, 91, 24, 6), darkGreen);
}

TEST(Artwork, PanelUnitFrameIsWhiteAroundADarkField) {
    const QImage panel = Load(kPanelResource);
    const QRgb white = qRgb(255, 255, 255);
    for (int x = 205; x <= 248; ++x) {
        EXPECT_EQ(panel.pixel(x, 46), white) << x;
        EXPECT_EQ(panel.pixel(x, 67), white) << x;
    }
    for (int y = 46; y <= 67; ++y) {
        EXPECT_EQ(panel.pixel(205, y), white) << y;
        EXPECT_EQ(panel.pixel(248, y), white) << y;
    }
    // The unit is written white on black inside the frame; the field around it matches.
    for (int y = 47; y <= 66; ++y) {
        for (int x = 206; x <= 247; ++x) {
            ASSERT_LE(qGray(panel.pixel(x, y)), 8) << x << "," << y;
        }
    }
}

} // namespace
