#pragma once

#include "settings/UserPictures.h"

#include <cstdint>
#include <string>

// The one record of everything the user can set and the settings file saves.
// Fields are written in place by whoever owns the change; there are no accessors.
// The swing's own state (its step and drift) lives in the motion.
struct AppSettings {
    // Screen position of the pivot; anchorX -1 means never placed.
    int anchorX = -1;
    int anchorY = -1;
    // String length in pixels, 50..400 on the slider.
    int pendulumLength = 128;
    // Swing timer period in ms, 20..200 on the slider.
    int tickInterval = 100;
    int alwaysOnTop = 1;
    // 0..3 built-in figures (girl, boy, cat, amulet), 4 + i user picture i.
    int figureIndex = 0;
    int uniformSwing = 1;
    int changePictureOnDrop = 0;
    // The swing's angle to save and to start from: 256 steps to a full turn,
    // 64 is straight down. The figure window keeps it as the motion moves.
    uint8_t swingAngle = 64;
    // The user's pictures, figures 4 and on.
    UserPictures pictures;
    // "NULL" stands for no file, compared exactly.
    std::string soundFile = "NULL";
    std::string textProgram = "NULL";
};

// The text that stands for "no file" in soundFile and textProgram.
inline constexpr const char* kNoFile = "NULL";
