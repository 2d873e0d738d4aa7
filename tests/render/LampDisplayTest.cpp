#include "render/LampDisplay.h"

#include "render/DigitDisplay.h"

#include <gtest/gtest.h>
#include <vector>

#include "tests/render/SurfaceFixture.h"

namespace {

class LampDisplayTest : public SurfaceFixture {
protected:
    void SetUp() override {
        SurfaceFixture::SetUp();
        m_lamps.Attach(&m_surface);
    }

    QImage Bar(LampState state) const { return m_imgLamps.copy(24 * state, 24, 24, 6); }

    CLampDisplay m_lamps;
};

const QRect kSend(4, 85, 24, 6);
const QRect kReceive(4, 91, 24, 6);

TEST_F(LampDisplayTest, EachStateChangesExactlyItsBar) {
    for (LampState state : {LampRed, LampGreen, LampDarkGreen, LampYellow}) {
        SCOPED_TRACE(state);
        for (const QRect& lamp : {kSend, kReceive}) {
            m_surface.image = m_imgPanel;
            m_repainted.clear();
            m_lamps.DrawLamp(lamp.x(), lamp.y(), state);
            EXPECT_EQ(Region(lamp), Bar(state));
            EXPECT_TRUE(UnchangedOutside(m_imgPanel, lamp));
            EXPECT_EQ(m_repainted, std::vector<QRect>{lamp});
        }
    }
}

TEST_F(LampDisplayTest, LampsNeverTouchEachOther) {
    m_lamps.DrawLamp(4, 91, LampYellow);
    m_lamps.DrawLamp(4, 85, LampGreen);
    EXPECT_EQ(Region(kReceive), Bar(LampYellow));
    EXPECT_EQ(Region(kSend), Bar(LampGreen));
    m_lamps.DrawLamp(4, 91, LampGreen);
    m_lamps.DrawLamp(4, 85, LampRed);
    EXPECT_EQ(Region(kReceive), Bar(LampGreen));
    EXPECT_EQ(Region(kSend), Bar(LampRed));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, kSend.united(kReceive)));
}

TEST_F(LampDisplayTest, DarkGreenRestoresThePrintedPanel) {
    m_lamps.DrawLamp(4, 85, LampGreen);
    m_lamps.DrawLamp(4, 91, LampYellow);
    m_lamps.DrawLamp(4, 91, LampDarkGreen);
    m_lamps.DrawLamp(4, 85, LampDarkGreen);
    EXPECT_EQ(m_surface.image, m_imgPanel);
}

TEST_F(LampDisplayTest, StateWithoutABarDrawsNothing) {
    m_lamps.DrawLamp(4, 85, LampGreen); // leaves a bar in the composition image
    m_surface.image = m_imgPanel;
    m_repainted.clear();
    m_lamps.DrawLamp(4, 85, static_cast<LampState>(4));
    m_lamps.DrawLamp(4, 85, static_cast<LampState>(-1));
    EXPECT_EQ(m_surface.image, m_imgPanel);
    EXPECT_TRUE(m_repainted.empty());
}

TEST_F(LampDisplayTest, BarIsClippedAtTheEdge) {
    m_lamps.DrawLamp(250, 100, LampYellow);
    const QRect visible(250, 100, 14, 4);
    EXPECT_EQ(Region(visible), Bar(LampYellow).copy(0, 0, 14, 4));
    EXPECT_TRUE(UnchangedOutside(m_imgPanel, visible));
    EXPECT_EQ(m_repainted, std::vector<QRect>{visible});
}

TEST_F(LampDisplayTest, NothingIsDrawnAfterDetach) {
    m_lamps.Detach();
    m_lamps.DrawLamp(4, 85, LampGreen);
    m_lamps.Detach();
    EXPECT_EQ(m_surface.image, m_imgPanel);
    EXPECT_TRUE(m_repainted.empty());
}

TEST_F(LampDisplayTest, SharesThePictureWithTheDigitDisplay) {
    // Both renderers draw on one picture with composition images of their own.
    CDigitDisplay digits;
    digits.Attach(&m_surface);
    digits.m_nColorRow = 1;
    digits.DrawValue(73, 34, "-12.34");
    const QImage withValue = m_surface.image;
    m_lamps.DrawLamp(4, 85, LampGreen);
    digits.DrawValue(73, 34, "-12.34");
    EXPECT_EQ(Region(kSend), Bar(LampGreen));
    EXPECT_TRUE(UnchangedOutside(withValue, kSend));
}

} // namespace
