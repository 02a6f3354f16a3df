#include "swing/PendulumMotion.h"

#include "settings/AppSettings.h"
#include "settings/ScreenGeometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace {

// Keeps coordinates from hand-edited settings far from integer overflow; the
// placement rules judge the same held places (restPlace).
int screenCoord(int64_t v)
{
    return heldCoord(v);
}

} // namespace

PendulumMotion::PendulumMotion()
{
    // This truncated pi is part of the motion: it decides the table values that
    // the saved angles and the frame choice were tuned to.
    const double p = 3.1415926535;
    for (int i = 0; i < 256; ++i) {
        double a = i * p * 2 / 256;
        sinTable[i] = static_cast<int>(std::sin(a) * 256);
        cosTable[i] = static_cast<int>(std::cos(a) * 256);
    }
}

WindowRect PendulumMotion::tick(const AppSettings& s, const WindowRect& current)
{
    if (s.uniformSwing == 0) {
        if (driftTick == 0)
            swingAmplitude += amplitudeDrift;
        if ((swingAmplitude <= 6 && amplitudeDrift < 0) || (swingAmplitude >= 32 && amplitudeDrift > 0))
            amplitudeDrift = -amplitudeDrift;
        if (++driftTick == 4)
            driftTick = 0;
    }

    // Faster near the bottom: up to half the amplitude on top of the base step.
    int near = std::min(std::abs(swingAngle - 64) / 2, swingAmplitude / 2);
    int boost = swingAmplitude / 2 - near;
    int delta = swingStep < 0 ? swingStep - boost : swingStep + boost;
    swingAngle = static_cast<uint8_t>(swingAngle + delta);

    // Turn only when past a turning point and still moving away from the bottom;
    // the overshoot of up to one step is what makes a larger step swing wider.
    if ((swingAngle <= 64 - swingAmplitude && swingStep < 0) || (swingAngle >= 64 + swingAmplitude && swingStep > 0))
        swingStep = -swingStep;

    // Arithmetic shifts: negative offsets round down. The products are formed in
    // 64 bits so that a hand-edited length cannot overflow; for any sane length
    // they equal the 32-bit ones.
    offsetX = screenCoord((int64_t { cosTable[swingAngle] } * s.pendulumLength) >> 8);
    offsetY = screenCoord((int64_t { sinTable[swingAngle] } * s.pendulumLength) >> 8);
    return moveTo(current, screenCoord(int64_t { s.anchorX } + offsetX),
                  screenCoord(int64_t { s.anchorY } + offsetY));
}

WindowRect PendulumMotion::moveTo(const WindowRect& current, int left, int top)
{
    WindowRect next;
    next.left = screenCoord(left);
    next.top = screenCoord(top);
    prevWindowDX = screenCoord(int64_t { current.left } - next.left);
    prevWindowDY = screenCoord(int64_t { current.top } - next.top);
    next.right = next.left + 95;
    if (heightToggle == 0) {
        next.bottom = next.top + 95;
        heightToggle = 1;
    } else {
        next.bottom = next.top + 96;
        heightToggle = 0;
    }
    return next;
}

int PendulumMotion::frameIndex(uint8_t swingAngle)
{
    int k = (swingAngle - 27) / 10;
    return std::clamp(k, 0, 6);
}
