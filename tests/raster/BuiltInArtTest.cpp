// The compiled-in figure frames, read through the program's own loader: every
// frame at 96x96 and at 192x192, and each 192-pixel frame the same drawing as
// its 96-pixel one (the ids of the two sets must not slip against each other).
#include "raster/DibImage.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

constexpr uint32_t kWhite = 0xFFFFFF;

// The frame's pixels, top row first; empty when it cannot be read.
std::vector<uint32_t> framePixels(int id, int artScale, int& size)
{
    const ResourceData r = findFrameResource(id, artScale);
    size = 0;
    if (r.data == nullptr)
        return {};
    DibImage image(r.data, r.size);
    int w = 0, h = 0;
    if (image.Load() != 0 || image.GetImageSize(w, h) != 0 || w != h)
        return {};
    std::vector<uint32_t> pixels(std::size_t(w) * std::size_t(h));
    for (int y = 0; y < h; ++y)
        if (!image.decodeRow(y, pixels.data() + std::size_t(y) * std::size_t(w)))
            return {};
    size = w;
    return pixels;
}

TEST(BuiltInArt, EveryFrameAtBothSizesShowsOneDrawing)
{
    for (int figure = 0; figure < 4; ++figure) {
        for (int k = 0; k < 7; ++k) {
            const int id = 10 * figure + k + 1;
            SCOPED_TRACE(id);
            int small = 0, large = 0;
            const std::vector<uint32_t> a = framePixels(id, 1, small);
            const std::vector<uint32_t> b = framePixels(id, 2, large);
            ASSERT_EQ(small, 96);
            ASSERT_EQ(large, 192);
            // White is the transparent colour: the corners are clear.
            EXPECT_EQ(b[0], kWhite);
            EXPECT_EQ(b[192 * 192 - 1], kWhite);

            // Each 96-pixel pixel against its 2x2 block: figure in both but
            // for the anti-aliased rim.
            int figurePixels = 0, differ = 0;
            for (int y = 0; y < 96; ++y) {
                for (int x = 0; x < 96; ++x) {
                    int covered = 0;
                    for (int dy = 0; dy < 2; ++dy)
                        for (int dx = 0; dx < 2; ++dx)
                            covered += b[std::size_t(2 * y + dy) * 192 + std::size_t(2 * x + dx)] != kWhite;
                    const bool here = a[std::size_t(y) * 96 + std::size_t(x)] != kWhite;
                    figurePixels += here;
                    differ += here != (covered >= 2);
                }
            }
            EXPECT_GT(figurePixels, 600);
            EXPECT_LT(differ, figurePixels * 8 / 100) << differ << " of " << figurePixels;
        }
    }
}

TEST(BuiltInArt, OnlyFramesAtScalesOneAndTwo)
{
    const struct {
        int id, artScale;
    } none[] = {
        { 0, 1 }, { 8, 1 }, { 41, 1 }, { 1, 3 }, { 1, 0 }, { 37, -2 },
        { ResourceId::kAboutPicture, 1 }, { ResourceId::kAboutPicture, 2 }, { 100, 2 }, { -1, 2 },
    };
    for (const auto& c : none)
        EXPECT_EQ(findFrameResource(c.id, c.artScale).data, nullptr) << c.id << " at " << c.artScale;
    EXPECT_NE(findFrameResource(37, 2).data, nullptr);
    EXPECT_NE(findResource(ResourceId::kAboutPicture).data, nullptr);
}

} // namespace
