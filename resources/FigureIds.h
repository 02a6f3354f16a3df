#pragma once

// The built-in figures' sizes, counts and resource ids, named once for every
// folder that needs them.
namespace figure {

// Every frame is a square of this side; the string is tied to its centre.
constexpr int kFrameSize = 96;
constexpr int kFrameCentre = kFrameSize / 2;
// The figure's window is a column narrower than the frames and keeps this
// size while it swings; on every other tick it shows the frame's rows only
// down to the short height, as if it were a row shorter.
constexpr int kWindowWidth = kFrameSize - 1;
constexpr int kWindowHeight = kFrameSize;
constexpr int kShortWindowHeight = kFrameSize - 1;
// Seven frames a figure, from the leftmost tilt to the rightmost.
constexpr int kFrameCount = 7;
// Girl, boy, cat, amulet: entries 0..3 of the figure list, before the user's pictures.
constexpr int kBuiltInFigures = 4;

// Frame k of built-in figure f is resource 10 * f + k + 1: ids 1-7, 11-17, 21-27, 31-37.
constexpr int baseId(int figure) { return 10 * figure; }
constexpr int frameId(int baseId, int k) { return baseId + k + 1; }

} // namespace figure
