// The pictures compiled into the program: every frame id of every built-in
// figure names a decodable frame of the frame size, and nothing lies between.
#include "raster/DibImage.h"
#include "resources/FigureIds.h"
#include "resources/Resources.h"

#include <gtest/gtest.h>

#include <set>

TEST(BuiltInPictures, EveryFigureHasItsSevenFramesAndNoMore)
{
    std::set<int> expected;
    for (int f = 0; f < figure::kBuiltInFigures; ++f)
        for (int k = 0; k < figure::kFrameCount; ++k)
            expected.insert(figure::frameId(figure::baseId(f), k));
    EXPECT_EQ(expected, (std::set<int> { 1,  2,  3,  4,  5,  6,  7,  11, 12, 13, 14, 15, 16, 17,
                                         21, 22, 23, 24, 25, 26, 27, 31, 32, 33, 34, 35, 36, 37 }));
    for (int id = 0; id < ResourceId::kAboutPicture; ++id) {
        SCOPED_TRACE("resource " + std::to_string(id));
        const ResourceData r = builtInResource(id);
        if (!expected.count(id)) {
            EXPECT_EQ(r.data, nullptr);
            continue;
        }
        ASSERT_NE(r.data, nullptr);
        const DibImage image(r.data, r.size);
        int w = 0, h = 0;
        ASSERT_EQ(image.GetImageSize(w, h), 0);
        EXPECT_EQ(w, figure::kFrameSize);
        EXPECT_EQ(h, figure::kFrameSize);
    }
    EXPECT_NE(builtInResource(ResourceId::kAboutPicture).data, nullptr);
}
