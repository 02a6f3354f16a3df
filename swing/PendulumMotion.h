#pragma once

#include <cstdint>

struct AppSettings;

// A screen rectangle with exclusive right and bottom edges.
struct WindowRect {
    int left, top, right, bottom;
};

// The pendulum: once per timer tick it advances the angle, lets the amplitude
// drift when uniform swing is off, and turns the angle into the window's
// rectangle. Integer arithmetic over two 256-entry tables only. It owns the
// swing's state (the angle, the step and the drift); the settings give the
// pivot, the length and whether the swing is uniform, and keep the angle to
// save.
class PendulumMotion {
public:
    static constexpr std::uint8_t kRestAngle = 64;
    static constexpr int kDefaultStep = 2;

    PendulumMotion();

    // Advances the swing one step and returns the rectangle the window moves to:
    // 95 wide and alternately 95 and 96 high.
    WindowRect tick(const AppSettings& settings, const WindowRect& current);

    // The next rectangle for a window placed at (left, top): width 95, height
    // 95 or 96 by heightToggle, which flips; records the move in prevWindowDX/DY.
    WindowRect moveTo(const WindowRect& current, int left, int top);

    // Which of the seven frames shows the figure at this angle.
    static int frameIndex(uint8_t swingAngle);
    int frameIndex() const { return frameIndex(swingAngle); }

    // The size of the step, whichever way the swing goes now; setting it
    // keeps the direction.
    int stepSize() const { return swingStep < 0 ? -swingStep : swingStep; }
    void setStepSize(int size) { swingStep = swingStep >= 0 ? size : -size; }

    // Back to full amplitude, shrinking first (a press on the figure, the
    // uniform-swing box).
    void resetAmplitude()
    {
        swingAmplitude = 32;
        amplitudeDrift = -1;
    }

    int sinTable[256];
    int cosTable[256];
    // 256 steps to a full turn, kRestAngle straight down.
    uint8_t swingAngle = kRestAngle;
    // The base angle step a tick; the sign is the current direction.
    int swingStep = kDefaultStep;
    int swingAmplitude = 32;
    int amplitudeDrift = -1;
    int offsetX = 0;
    int offsetY = 0;
    int prevWindowDX = 0;
    int prevWindowDY = 0;
    int heightToggle = 0;
    // Counts ticks 0..3; the amplitude moves one step every fourth tick.
    int driftTick = 0;
};
