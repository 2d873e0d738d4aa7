#include "render/DigitDisplay.h"

#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "tests/render/SurfaceFixture.h"

namespace {

TEST(DigitDisplayGlyphIndex, MapsTheGlyphOrderAndBlanksTheRest) {
    const std::string order = ".0123456789- ";
    for (size_t i = 0; i < order.size(); ++i) {
        EXPECT_EQ(CDigitDisplay::GlyphIndex(order[i]), static_cast<int>(i)) << order[i];
    }
    for (char ch : {'+', 'e', 'E', ',', '\0', '\t', static_cast<char>(0xB0)}) {
        EXPECT_EQ(CDigitDisplay::GlyphIndex(ch), 12) << static_cast<int>(ch);
    }
}

// One composed cell: the glyph of the sheet cell and whether its point is lit.
struct ExpectedCell {
    int glyph;
    bool bPoint;
};

class DigitDisplayTest : public SurfaceFixture {
protected:
    void SetUp() override {
        SurfaceFixture::SetUp();
        m_display.Attach(&m_surface);
        m_display.m_nColorRow = 1;
    }

    // The strip the cells make when taken from the sheet by hand.
    QImage Strip(const std::vector<ExpectedCell>& cells, int row = 1) const {
        QImage strip(24 * static_cast<int>(cells.size()), 48, QImage::Format_RGB32);
        QPainter painter(&strip);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        for (size_t i = 0; i < cells.size(); ++i) {
            const int x = 24 * static_cast<int>(i);
            painter.drawImage(x, 0, m_imgGlyphs, 24 * cells[i].glyph, 48 * row, 24, 48);
            if (cells[i].bPoint) {
                painter.drawImage(x + 21, 43, m_imgGlyphs, 21, 48 * row + 43, 3, 3);
            }
        }
        return strip;
    }

    // Fills the picture, and the panel it was printed with, with a colour no glyph has, so every
    // copied pixel shows.
    void PaintMarker() {
        m_surface.image.fill(qRgb(255, 0, 255));
        m_surface.panel = m_surface.image;
        m_imgPanel = m_surface.image;
    }

    CDigitDisplay m_display;
};

TEST_F(DigitDisplayTest, StartTextCoversTheFivePrintedCellsExactly) {
    PaintMarker();
    m_display.DrawValue(73, 34, "    0");
    const QRect cells(73, 34, 120, 48);
    EXPECT_EQ(Region(cells),
              Strip({{12, false}, {12, false}, {12, false}, {12, false}, {1, false}}));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, cells));
    EXPECT_EQ(m_repainted, std::vector<QRect>{cells});
}

TEST_F(DigitDisplayTest, StartTextOnThePanelChangesOnlyTheZeroCell) {
    m_display.DrawValue(73, 34, "    0");
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, QRect(73 + 96, 34, 24, 48)));
    EXPECT_NE(Region(QRect(73 + 96, 34, 24, 48)), m_imgPanel.copy(73 + 96, 34, 24, 48));
}

TEST_F(DigitDisplayTest, ComposesCellsAndPoints) {
    struct Case {
        const char* text;
        std::vector<ExpectedCell> cells;
    };
    const std::vector<Case> cases = {
        {"-12.34", {{11, false}, {2, false}, {3, true}, {4, false}, {5, false}}},
        {"5..", {{6, true}}},
        {".5", {{0, false}, {6, false}}},
        {"..", {{0, true}}},
        {"+e 7", {{12, false}, {12, false}, {12, false}, {8, false}}},
        {"-0.001", {{11, false}, {1, true}, {1, false}, {1, false}, {2, false}}},
        {"9.8.", {{10, true}, {9, true}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        PaintMarker();
        m_repainted.clear();
        CDigitDisplay display; // nothing drawn before, so nothing to put back
        display.Attach(&m_surface);
        display.m_nColorRow = 1;
        display.DrawValue(73, 34, c.text);
        const QRect strip(73, 34, 24 * static_cast<int>(c.cells.size()), 48);
        EXPECT_EQ(Region(strip), Strip(c.cells));
        EXPECT_TRUE(UnchangedOutside(m_imgPanel, strip));
        EXPECT_EQ(m_repainted, std::vector<QRect>{strip}) << "one copy per value";
    }
}

// The picture as a fresh display leaves it after `steps`: (value, unit) pairs, a null member
// skipped, drawn value first.
QImage Drawn(const QImage& panel,
             std::initializer_list<std::pair<const char*, const char*>> steps) {
    CPictureSurface surface;
    surface.panel = panel;
    surface.image = panel;
    CDigitDisplay display;
    display.Attach(&surface);
    display.m_nColorRow = 1;
    for (const auto& [value, unit] : steps) {
        if (value != nullptr) {
            display.DrawValue(73, 34, value);
        }
        if (unit != nullptr) {
            display.DrawUnit(206, 49, unit);
        }
    }
    return surface.image;
}

TEST_F(DigitDisplayTest, NarrowerValuePutsThePrintedPanelBackInTheSameRepaint) {
    // The unit is on the panel first; a value of six cells reaches into its frame.
    struct Case {
        const char* earlier;
        int earlierCells;
        const char* later;
    };
    for (const Case& c :
         {Case{"999999", 6, "    1"}, Case{"999999", 6, "1"}, Case{"10000.0", 6, "9999.9"},
          Case{"-12.34", 5, "5"}, Case{"88888", 5, ""}}) {
        SCOPED_TRACE(std::string(c.earlier) + " -> " + c.later);
        m_surface.image = m_imgPanel;
        CDigitDisplay display;
        display.Attach(&m_surface);
        display.m_nColorRow = 1;
        display.DrawUnit(206, 49, "Sec");
        display.DrawValue(73, 34, c.earlier);
        m_repainted.clear();
        display.DrawValue(73, 34, c.later);
        // As if the earlier value had never been drawn: no cell of it, the frame, its legend and
        // the unit whole again.
        EXPECT_EQ(m_surface.image, Drawn(m_imgPanel, {{nullptr, "Sec"}, {c.later, nullptr}}));
        ASSERT_EQ(m_repainted.size(), 1U);
        EXPECT_TRUE(m_repainted[0].contains(QRect(73, 34, 24 * c.earlierCells, 48)));
    }
}

TEST_F(DigitDisplayTest, UnitPutsBackWhatLayBeneathTheEarlierOne) {
    struct Case {
        const char* value;
        const char* earlier;
        const char* later;
    };
    // The same unit again: its ink above and beside the cell is drawn on fresh ground, not over
    // itself, so its smoothed edges stay as they were.
    for (const Case& c :
         {Case{"    0", "m3/hour", "Hz"}, Case{"    0", "Sec", ""}, Case{"    0", "Sec", "s"},
          Case{"999999", "m3/hour", "s"}, Case{"999999", "Åkgf", "Åkgf"}}) {
        SCOPED_TRACE(std::string(c.value) + ": " + c.earlier + " -> " + c.later);
        m_surface.image = m_imgPanel;
        CDigitDisplay display;
        display.Attach(&m_surface);
        display.m_nColorRow = 1;
        display.DrawValue(73, 34, c.value);
        display.DrawUnit(206, 49, c.earlier);
        m_repainted.clear();
        display.DrawUnit(206, 49, c.later);
        // The printed frame, and the value's sixth cell where the longer unit had covered it.
        EXPECT_EQ(m_surface.image, Drawn(m_imgPanel, {{c.value, c.later}}));
        EXPECT_EQ(m_repainted.size(), 1U);
    }
}

TEST_F(DigitDisplayTest, EmptyOrNullTextCopiesNothing) {
    m_display.DrawValue(73, 34, "");
    m_display.DrawValue(73, 34, nullptr);
    m_display.DrawUnit(206, 49, nullptr);
    m_display.DrawUnit(206, 49, "");
    EXPECT_EQ(m_surface.image, m_imgPanel);
    EXPECT_TRUE(m_repainted.empty());
}

TEST_F(DigitDisplayTest, GlyphsComeFromTheSelectedColourRow) {
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        m_display.m_nColorRow = row;
        m_display.DrawValue(10, 5, "8.-");
        EXPECT_EQ(Region(QRect(10, 5, 48, 48)), Strip({{9, true}, {11, false}}, row));
    }
}

TEST_F(DigitDisplayTest, CopiesAreClippedAtThePictureEdges) {
    PaintMarker();
    m_display.DrawValue(250, 90, "88");
    const QRect visible(250, 90, 14, 14);
    EXPECT_EQ(Region(visible), Strip({{9, false}}).copy(0, 0, 14, 14));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, visible));
    EXPECT_EQ(m_repainted, std::vector<QRect>{visible});

    PaintMarker();
    m_display.DrawValue(-10, -20, "8");
    EXPECT_EQ(Region(QRect(0, 0, 14, 28)), Strip({{9, false}}).copy(10, 20, 14, 28));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, QRect(0, 0, 14, 28)));

    CDigitDisplay fresh;
    fresh.Attach(&m_surface);
    fresh.DrawValue(300, 200, "8");
    EXPECT_EQ(m_repainted.size(), 2U) << "a copy entirely outside changes nothing";
}

TEST_F(DigitDisplayTest, ValuesWiderThanThePictureAreCut) {
    // 29 characters, the longest display text: more cells than the picture is wide.
    PaintMarker();
    m_display.DrawValue(0, 0, "-123456789.012345678901234567");
    const std::vector<ExpectedCell> first = {{11, false}, {2, false}, {3, false}, {4, false},
                                             {5, false},  {6, false}, {7, false}, {8, false},
                                             {9, false},  {10, true}, {1, false}};
    EXPECT_EQ(Region(QRect(0, 0, 264, 48)), Strip(first));
    EXPECT_EQ(m_repainted, std::vector<QRect>{QRect(0, 0, 264, 48)});
}

TEST_F(DigitDisplayTest, UnitIsWhiteOnBlackAndColoursAreRestored) {
    PaintMarker(); // any pixel of the cell left unfilled shows as not grey
    m_surface.textColor = QColor(10, 20, 30);
    m_surface.backColor = QColor(200, 100, 50);
    m_display.DrawUnit(206, 49, "Sec");
    EXPECT_EQ(m_surface.textColor, QColor(10, 20, 30));
    EXPECT_EQ(m_surface.backColor, QColor(200, 100, 50));

    // The cell: the text's advance and one line of the application's font at the picture's
    // resolution, from its top left corner.
    const QFontMetrics metrics(QGuiApplication::font(), &m_surface.image);
    const QRect cell(206, 49, metrics.horizontalAdvance(QStringLiteral("Sec")), metrics.height());
    ASSERT_EQ(m_repainted.size(), 1U);
    EXPECT_TRUE(m_repainted.front().contains(cell));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, m_repainted.front()));
    int white = 0;
    int black = 0;
    for (int y = cell.top(); y <= cell.bottom(); ++y) {
        for (int x = cell.left(); x <= cell.right(); ++x) {
            const QRgb c = m_surface.image.pixel(x, y);
            ASSERT_TRUE(qRed(c) == qGreen(c) && qGreen(c) == qBlue(c)) << "grey levels only";
            white += qGray(c) > 160; // letters, smoothed at their edges
            black += c == qRgb(0, 0, 0);
        }
    }
    EXPECT_GT(white, 10) << "the letters";
    EXPECT_GT(black, cell.width() * cell.height() / 2) << "the filled cell";
}

TEST_F(DigitDisplayTest, NothingIsDrawnAfterDetach) {
    m_display.m_nColorRow = 2;
    m_display.Detach();
    EXPECT_EQ(m_display.m_nColorRow, 0);
    m_display.DrawValue(73, 34, "-12.34");
    m_display.DrawUnit(206, 49, "Sec");
    m_display.Detach();
    EXPECT_EQ(m_surface.image, m_imgPanel);
    EXPECT_TRUE(m_repainted.empty());
}

TEST_F(DigitDisplayTest, NothingIsDrawnBeforeAttach) {
    CDigitDisplay fresh;
    EXPECT_EQ(fresh.m_nColorRow, 0);
    fresh.DrawValue(73, 34, "8");
    fresh.DrawUnit(206, 49, "Sec");
    fresh.Detach();
    EXPECT_EQ(m_surface.image, m_imgPanel);
    EXPECT_TRUE(m_repainted.empty());
}

TEST_F(DigitDisplayTest, PictureWithoutImageDrawsNothing) {
    CPictureSurface empty;
    int calls = 0;
    empty.repaint = [&calls](const QRect&) { ++calls; };
    CDigitDisplay display;
    display.Attach(&empty);
    display.DrawValue(0, 0, "12");
    display.DrawUnit(0, 0, "Sec");
    EXPECT_TRUE(empty.image.isNull());
    EXPECT_EQ(calls, 0);
}

TEST_F(DigitDisplayTest, WorksWithoutARepaintCallback) {
    m_surface.repaint = nullptr;
    m_display.DrawValue(73, 34, "1");
    m_display.DrawUnit(206, 49, "Sec");
    EXPECT_EQ(Region(QRect(73, 34, 24, 48)), Strip({{2, false}}));
}

} // namespace
