#pragma once

#include <cstdint>
#include <vector>

// A drawing target: either colour (32-bit 0x00RRGGBB per pixel) or monochrome
// (one bit per pixel, stored one byte per pixel for fast blits: 0 or 1).
class Bitmap {
public:
    Bitmap() = default;
    static Bitmap colour(int width, int height);
    static Bitmap monochrome(int width, int height);

    int width() const { return width_; }
    int height() const { return height_; }
    bool isMonochrome() const { return mono_; }
    bool isNull() const { return width_ == 0 || height_ == 0; }

    // Colour bitmaps: 0x00RRGGBB. Monochrome: 0 or 1. No range check: use the
    // raster functions for anything that may lie outside.
    uint32_t pixel(int x, int y) const
    {
        return mono_ ? bits_[index(x, y)] : colours_[index(x, y)];
    }
    void setPixel(int x, int y, uint32_t value)
    {
        if (mono_)
            bits_[index(x, y)] = value ? 1 : 0;
        else
            colours_[index(x, y)] = value & 0xFFFFFFu;
    }

    uint32_t* colourRow(int y) { return colours_.data() + index(0, y); }
    const uint32_t* colourRow(int y) const { return colours_.data() + index(0, y); }
    uint8_t* monoRow(int y) { return bits_.data() + index(0, y); }
    const uint8_t* monoRow(int y) const { return bits_.data() + index(0, y); }

    void fill(uint32_t value);

private:
    std::size_t index(int x, int y) const
    {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
    }

    int width_ = 0;
    int height_ = 0;
    bool mono_ = false;
    std::vector<uint32_t> colours_;
    std::vector<uint8_t> bits_;
};
