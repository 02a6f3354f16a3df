#pragma once

#include <cstdint>

class Bitmap;

// A memory drawing surface: the bitmap currently selected into it, and the two
// colours that govern colour/monochrome conversion in blits.
class MemoryDC {
public:
    // Selects a bitmap to draw into or read from; returns the one selected before.
    Bitmap* select(Bitmap* bitmap)
    {
        Bitmap* old = bitmap_;
        bitmap_ = bitmap;
        return old;
    }
    Bitmap* bitmap() const { return bitmap_; }

    uint32_t backgroundColour() const { return background_; }
    uint32_t textColour() const { return text_; }
    // Return the previous colour, as the surface calls they stand in for do.
    uint32_t setBackgroundColour(uint32_t c)
    {
        uint32_t old = background_;
        background_ = c & 0xFFFFFFu;
        return old;
    }
    uint32_t setTextColour(uint32_t c)
    {
        uint32_t old = text_;
        text_ = c & 0xFFFFFFu;
        return old;
    }

private:
    Bitmap* bitmap_ = nullptr;
    uint32_t background_ = 0xFFFFFF;
    uint32_t text_ = 0x000000;
};
