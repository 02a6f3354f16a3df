#include "platform/GrabRect.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

TEST(GrabRect, ClipsToTheScreen)
{
    const struct {
        const char* name;
        int x, y, w, h;
        int srcX, srcY, dstX, dstY, cw, ch; // cw/ch 0: nothing left
    } cases[] = {
        {"inside", 10, 20, 96, 96, 10, 20, 0, 0, 96, 96},
        {"whole screen", 0, 0, 320, 240, 0, 0, 0, 0, 320, 240},
        {"off the left and top", -30, -40, 96, 96, 0, 0, 30, 40, 66, 56},
        {"off the right and bottom", 300, 200, 96, 96, 300, 200, 0, 0, 20, 40},
        {"larger than the screen", -10, -10, 400, 300, 0, 0, 10, 10, 320, 240},
        {"touching the right edge from outside", 320, 0, 10, 10, 0, 0, 0, 0, 0, 0},
        {"touching the top edge from outside", 0, -10, 10, 10, 0, 0, 0, 0, 0, 0},
        {"last pixel", 319, 239, 5, 5, 319, 239, 0, 0, 1, 1},
        {"zero width", 5, 5, 0, 5, 0, 0, 0, 0, 0, 0},
        {"negative height", 5, 5, 5, -5, 0, 0, 0, 0, 0, 0},
        {"x near INT_MAX does not wrap", INT_MAX - 5, 0, 96, 96, 0, 0, 0, 0, 0, 0},
        {"x near INT_MIN does not wrap", INT_MIN, 0, INT_MAX, 10, 0, 0, 0, 0, 0, 0},
        {"huge size from far left", INT_MIN + 1, 0, INT_MAX, 10, 0, 0, 0, 0, 0, 0},
        {"huge size covering the screen", -100, -100, INT_MAX, INT_MAX, 0, 0, 100, 100, 320, 240},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const GrabRect r = GrabRect::clip(c.x, c.y, c.w, c.h, 320, 240);
        if (c.cw == 0) {
            EXPECT_TRUE(r.empty());
            continue;
        }
        ASSERT_FALSE(r.empty());
        EXPECT_EQ(r.srcX, c.srcX);
        EXPECT_EQ(r.srcY, c.srcY);
        EXPECT_EQ(r.dstX, c.dstX);
        EXPECT_EQ(r.dstY, c.dstY);
        EXPECT_EQ(r.w, c.cw);
        EXPECT_EQ(r.h, c.ch);
    }
    EXPECT_TRUE(GrabRect::clip(0, 0, 10, 10, 0, 240).empty());
}

TEST(GrabRect, ClearsOnlyTheRequestedAreaOfAValidBuffer)
{
    std::vector<std::uint32_t> buffer(5 * 3, 0xDEADBEEF);
    EXPECT_FALSE(GrabRect::clearDestination(4, 3, nullptr, 5));
    EXPECT_FALSE(GrabRect::clearDestination(0, 3, buffer.data(), 5));
    EXPECT_FALSE(GrabRect::clearDestination(4, -1, buffer.data(), 5));
    EXPECT_FALSE(GrabRect::clearDestination(6, 3, buffer.data(), 5)); // stride shorter than a row
    EXPECT_EQ(buffer, std::vector<std::uint32_t>(15, 0xDEADBEEF));

    ASSERT_TRUE(GrabRect::clearDestination(4, 3, buffer.data(), 5));
    for (int row = 0; row < 3; ++row) {
        for (int col = 0; col < 5; ++col)
            EXPECT_EQ(buffer[std::size_t(row * 5 + col)], col < 4 ? 0u : 0xDEADBEEFu) << row << "," << col;
    }
}

} // namespace
