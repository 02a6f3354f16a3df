#include "settings/AppSettings.h"
#include "swing/PendulumMotion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <vector>

namespace {

std::vector<int> angles(PendulumMotion& m, const AppSettings& s, int ticks)
{
    std::vector<int> out;
    WindowRect r { 0, 0, 95, 95 };
    for (int i = 0; i < ticks; ++i) {
        r = m.tick(s, r);
        out.push_back(m.swingAngle);
    }
    return out;
}

} // namespace

TEST(PendulumTables, KnownRows)
{
    PendulumMotion m;
    struct Row { int i, sin, cos; };
    for (Row r : { Row { 0, 0, 256 }, Row { 1, 6, 255 }, Row { 32, 181, 181 }, Row { 63, 255, 6 },
                   Row { 64, 256, 0 }, Row { 128, 0, -256 }, Row { 192, -256, 0 }, Row { 82, 231, -109 } }) {
        EXPECT_EQ(m.sinTable[r.i], r.sin) << "i=" << r.i;
        EXPECT_EQ(m.cosTable[r.i], r.cos) << "i=" << r.i;
    }
}

TEST(PendulumTick, DefaultSwingSequence)
{
    PendulumMotion m;
    AppSettings s;
    s.anchorX = 0;
    s.anchorY = 0;
    std::vector<int> expected = { 82, 91, 96, 94, 91, 86, 79, 68, 52, 40, 34, 31,
                                  33, 36, 40, 46, 55, 69, 85, 93, 97, 95 };
    std::vector<int> turns = { 2, 11, 20 }; // indices after which the step has flipped
    WindowRect r { 0, 0, 95, 95 };
    for (std::size_t i = 0; i < expected.size(); ++i) {
        int stepBefore = m.swingStep;
        r = m.tick(s, r);
        EXPECT_EQ(m.swingAngle, expected[i]) << "tick " << i;
        bool turned = std::find(turns.begin(), turns.end(), int(i)) != turns.end();
        EXPECT_EQ(m.swingStep, turned ? -stepBefore : stepBefore) << "tick " << i;
    }
}

TEST(PendulumTick, FirstTickOffsetsAndFrame)
{
    PendulumMotion m;
    AppSettings s;
    s.anchorX = 608;
    s.anchorY = 376;
    WindowRect r = m.tick(s, WindowRect { 608, 504, 704, 600 });
    EXPECT_EQ(m.offsetX, -55) << "negative products round down";
    EXPECT_EQ(m.offsetY, 115);
    EXPECT_EQ(PendulumMotion::frameIndex(m.swingAngle), 5);
    EXPECT_EQ(r.left, 608 - 55);
    EXPECT_EQ(r.top, 376 + 115);
    EXPECT_EQ(r.right - r.left, 95);
    EXPECT_EQ(r.bottom - r.top, 95);
    EXPECT_EQ(m.prevWindowDX, 55);
    EXPECT_EQ(m.prevWindowDY, 504 - 491);
}

TEST(PendulumTick, LargeStepSwingsWider)
{
    PendulumMotion m;
    AppSettings s;
    m.swingStep = 12;
    EXPECT_EQ(angles(m, s, 12), (std::vector<int> { 92, 106, 94, 81, 61, 34, 21, 33, 46, 65, 93, 107 }));
}

TEST(PendulumTick, AmplitudeDriftsEveryFourthTick)
{
    PendulumMotion m;
    AppSettings s;
    s.uniformSwing = 0;
    std::vector<int> amplitudes;
    WindowRect r { 0, 0, 95, 95 };
    for (int i = 0; i < 4 * 26 * 2; ++i) {
        r = m.tick(s, r);
        amplitudes.push_back(m.swingAmplitude);
    }
    // 31 for four ticks, 30 for four, ... down to 6, then back up to 32.
    for (int i = 0; i < 4 * 26; ++i)
        EXPECT_EQ(amplitudes[i], 31 - i / 4) << i;
    for (int i = 0; i < 4 * 26; ++i)
        EXPECT_EQ(amplitudes[4 * 26 + i], 7 + i / 4) << i;
    EXPECT_EQ(amplitudes.back(), 32);
}

TEST(PendulumTick, UniformSwingKeepsTheAmplitude)
{
    PendulumMotion m;
    AppSettings s;
    angles(m, s, 50);
    EXPECT_EQ(m.swingAmplitude, 32);
    EXPECT_EQ(m.driftTick, 0);
}

TEST(PendulumTick, FarAngleWalksBackAndWraps)
{
    PendulumMotion m;
    AppSettings s;
    m.swingAngle = 200;
    // Moving up from 200 (positive step) is not "past a turning point while
    // moving away", since 200 >= 96 flips it at once; then it walks down.
    std::vector<int> a = angles(m, s, 3);
    EXPECT_EQ(a[0], 202);
    EXPECT_EQ(m.swingStep, -2);
    EXPECT_EQ(a[1], 200);
    EXPECT_EQ(a[2], 198);
}

TEST(PendulumTick, HeightAlternatesEvenWithoutMoving)
{
    PendulumMotion m;
    WindowRect r { 10, 10, 105, 105 };
    std::vector<int> heights;
    for (int i = 0; i < 5; ++i) {
        r = m.moveTo(r, 10, 10);
        heights.push_back(r.bottom - r.top);
        EXPECT_EQ(r.right - r.left, 95);
        EXPECT_EQ(m.prevWindowDX, 0);
    }
    EXPECT_EQ(heights, (std::vector<int> { 95, 96, 95, 96, 95 }));
}

TEST(PendulumTick, HostileSettingsDoNotOverflow)
{
    PendulumMotion m;
    AppSettings s;
    s.pendulumLength = INT_MAX;
    s.anchorX = INT_MAX;
    s.anchorY = INT_MIN;
    WindowRect r = m.tick(s, WindowRect { INT_MIN, INT_MAX, 0, 0 });
    EXPECT_LT(r.left, r.right);
    EXPECT_LT(r.top, r.bottom);
}

TEST(PendulumStep, ItsSizeIsSetWithoutTurningTheSwing)
{
    const struct {
        int step, size, expected;
    } cases[] = {
        { -2, 5, -5 }, { 2, 5, 5 }, { -12, 1, -1 }, { 0, 7, 7 }, { 3, 12, 12 }, { -7, 7, -7 },
    };
    for (const auto& c : cases) {
        PendulumMotion m;
        m.swingStep = c.step;
        EXPECT_EQ(m.stepSize(), c.step < 0 ? -c.step : c.step) << c.step;
        m.setStepSize(c.size);
        EXPECT_EQ(m.swingStep, c.expected) << "from " << c.step << " to " << c.size;
        EXPECT_EQ(m.stepSize(), c.size);
    }
}

TEST(PendulumTick, TheSettingsGiveThePivotAndLengthOnly)
{
    // Two motions over one record swing alike, each from its own angle: the
    // record is read, never written.
    AppSettings s;
    s.anchorX = 300;
    s.anchorY = 200;
    const AppSettings before = s;
    PendulumMotion a, b;
    b.swingAngle = 90;
    WindowRect ra { 0, 0, 95, 95 }, rb = ra;
    ra = a.tick(s, ra);
    rb = b.tick(s, rb);
    EXPECT_EQ(a.swingAngle, 82);
    EXPECT_EQ(b.swingAngle, 95) << "2 and 3 for the speed near the bottom";
    for (int i = 0; i < 4; ++i) {
        ra = a.tick(s, ra);
        rb = b.tick(s, rb);
    }
    EXPECT_EQ(s.swingAngle, before.swingAngle);
    EXPECT_EQ(s.anchorX, before.anchorX);
    PendulumMotion c;
    c.swingAngle = 90;
    WindowRect rc { 0, 0, 95, 95 };
    for (int i = 0; i < 5; ++i)
        rc = c.tick(s, rc);
    EXPECT_EQ(c.swingAngle, b.swingAngle);
    EXPECT_EQ(rc.left, rb.left);
    EXPECT_EQ(rc.top, rb.top);
}

TEST(PendulumFrameIndex, Boundaries)
{
    struct Row { int angle, frame; };
    for (Row r : { Row { 0, 0 }, Row { 26, 0 }, Row { 36, 0 }, Row { 37, 1 }, Row { 46, 1 }, Row { 47, 2 },
                   Row { 56, 2 }, Row { 57, 3 }, Row { 64, 3 }, Row { 66, 3 }, Row { 67, 4 }, Row { 76, 4 },
                   Row { 77, 5 }, Row { 86, 5 }, Row { 87, 6 }, Row { 255, 6 } })
        EXPECT_EQ(PendulumMotion::frameIndex(static_cast<uint8_t>(r.angle)), r.frame) << r.angle;
}
