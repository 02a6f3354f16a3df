#pragma once

// Builds .bmp files in memory for tests.

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace testbmp {

inline void put16(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void put32(std::vector<uint8_t>& b, std::size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}

// A bottom-up (or top-down) 24-bit BI_RGB file whose pixel (x, y), y = 0 at the
// top, is colour(x, y) as 0x00RRGGBB.
inline std::vector<uint8_t> rgb24(int w, int h, const std::function<uint32_t(int, int)>& colour,
                                  bool topDown = false)
{
    std::size_t row = ((24 * std::size_t(w) + 31) / 32) * 4;
    std::vector<uint8_t> b(54 + row * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(b.size()));
    put32(b, 10, 54);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(w));
    put32(b, 22, uint32_t(topDown ? -h : h));
    put16(b, 26, 1);
    put16(b, 28, 24);
    for (int y = 0; y < h; ++y) {
        std::size_t stored = topDown ? y : h - 1 - y;
        for (int x = 0; x < w; ++x) {
            uint32_t c = colour(x, y);
            uint8_t* p = &b[54 + stored * row + 3 * std::size_t(x)];
            p[0] = uint8_t(c);
            p[1] = uint8_t(c >> 8);
            p[2] = uint8_t(c >> 16);
        }
    }
    return b;
}

// An 8-bit palette file with the given palette (clrUsed written as given,
// 0 meaning a full 256-entry table is stored) and index(x, y).
inline std::vector<uint8_t> pal8(int w, int h, const std::vector<uint32_t>& palette, bool writeClrUsed,
                                 const std::function<uint8_t(int, int)>& index, uint32_t offBits = ~0u)
{
    std::size_t row = ((8 * std::size_t(w) + 31) / 32) * 4;
    std::size_t entries = writeClrUsed ? palette.size() : 256;
    std::size_t start = 54 + 4 * entries;
    std::vector<uint8_t> b(start + row * h, 0);
    b[0] = 'B';
    b[1] = 'M';
    put32(b, 2, uint32_t(b.size()));
    put32(b, 10, offBits == ~0u ? uint32_t(start) : offBits);
    put32(b, 14, 40);
    put32(b, 18, uint32_t(w));
    put32(b, 22, uint32_t(h));
    put16(b, 26, 1);
    put16(b, 28, 8);
    put32(b, 46, writeClrUsed ? uint32_t(palette.size()) : 0);
    for (std::size_t i = 0; i < palette.size(); ++i)
        put32(b, 54 + 4 * i, palette[i]);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            b[start + std::size_t(h - 1 - y) * row + std::size_t(x)] = index(x, y);
    return b;
}

inline void save(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                 std::streamsize(bytes.size()));
}

} // namespace testbmp
