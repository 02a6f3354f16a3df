#pragma once

#include "settings/UserPictures.h"

#include <cstdint>
#include <string>

// The one record of everything the user can set, plus the run-time state that
// the figure window, the settings panel and the settings file share.
// Fields are written in place by whoever owns the change; there are no accessors.
struct AppSettings {
    // Screen position of the pivot; anchorX -1 means never placed.
    int anchorX = -1;
    int anchorY = -1;
    // String length in pixels, 50..400 on the slider.
    int pendulumLength = 128;
    // Swing timer period in ms, 20..200 on the slider.
    int tickInterval = 100;
    // Base angle step per tick; the sign is the current direction. Not saved.
    int swingStep = 2;
    int alwaysOnTop = 1;
    // 0..3 built-in figures (girl, boy, cat, amulet), 4 + i user picture i.
    int figureIndex = 0;
    int uniformSwing = 1;
    int changePictureOnDrop = 0;
    // 256 steps to a full turn, 64 is straight down.
    uint8_t swingAngle = 64;
    // The user's pictures, figures 4 and on.
    UserPictures pictures;
    // "NULL" stands for no file, compared exactly.
    std::string soundFile = "NULL";
    std::string textProgram = "NULL";
};

// The text that stands for "no file" in soundFile and textProgram.
inline constexpr const char* kNoFile = "NULL";
