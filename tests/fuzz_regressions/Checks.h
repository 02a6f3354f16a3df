#pragma once

// What the fuzzers check for each input, as test expectations, and the small
// file helpers the tests share.

#include "PictureLists.h"

#include "raster/Bitmap.h"
#include "raster/DibImage.h"
#include "raster/MemoryDC.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"
#include "swing/FigureFrames.h"
#include "swing/PendulumMotion.h"

#include <gtest/gtest.h>

#include "TempDir.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace checks {

using testfs::TempDir;
using testfs::readBytes;
using testfs::writeBytes;

inline AppSettings readSettingsBytes(const TempDir& dir, const std::string& bytes)
{
    writeBytes(dir.file("in.ini"), bytes);
    AppSettings s;
    readSettingsFile(dir.file("in.ini"), s);
    return s;
}

// Writes what was read and reads it again: every saved field must come back.
inline void expectRoundTrip(const TempDir& dir, const AppSettings& first, const std::string& label)
{
    SCOPED_TRACE(label);
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), first));
    AppSettings second;
    readSettingsFile(dir.file("Tassio.ini"), second);
    EXPECT_EQ(second.anchorX, first.anchorX);
    EXPECT_EQ(second.anchorY, first.anchorY);
    EXPECT_EQ(second.tickInterval, first.tickInterval);
    EXPECT_EQ(second.pendulumLength, first.pendulumLength);
    EXPECT_EQ(second.swingAngle, first.swingAngle);
    EXPECT_EQ(second.alwaysOnTop, first.alwaysOnTop);
    EXPECT_EQ(second.figureIndex, first.figureIndex);
    EXPECT_EQ(second.uniformSwing, first.uniformSwing);
    EXPECT_EQ(second.changePictureOnDrop, first.changePictureOnDrop);
    EXPECT_EQ(second.soundFile, first.soundFile);
    EXPECT_EQ(second.textProgram, first.textProgram);
    EXPECT_TRUE(picturePaths(second.pictures) == picturePaths(first.pictures)) << "picture paths differ";
    EXPECT_TRUE(pictureNames(second.pictures) == pictureNames(first.pictures)) << "picture names differ";
}

struct Frames {
    PendulumMotion motion;
    FigureFrames c { motion.sinTable, motion.cosTable };
    Frames() { c.loadBuiltInFigure(0); }
};

inline bool sameFrames(const FigureFrames& c, const std::vector<Bitmap>& before)
{
    for (int k = 0; k < FigureFrames::kFrameCount; ++k) {
        const Bitmap& a = c.frame(k);
        const Bitmap& b = before[static_cast<std::size_t>(k)];
        if (a.width() != b.width() || a.height() != b.height())
            return false;
        for (int y = 0; y < a.height(); ++y)
            if (!std::equal(a.colourRow(y), a.colourRow(y) + a.width(), b.colourRow(y)))
                return false;
    }
    return true;
}

inline std::vector<Bitmap> framesOf(const FigureFrames& c) { return { c.frames(), c.frames() + FigureFrames::kFrameCount }; }

// The bytes as a picture from memory and, written to path, as a figure: the two
// must agree, a drawn pixel stays within 0x00RRGGBB, and a refused figure
// leaves the frames as they were.
inline void expectPictureHandled(const std::string& path, const std::string& bytes, const std::string& label)
{
    SCOPED_TRACE(label);
    DibImage image(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    int w = -7, h = -7;
    bool loaded = image.GetImageSize(w, h) == 0;
    EXPECT_EQ(loaded, image.hasData());
    if (loaded) {
        EXPECT_GT(w, 0);
        EXPECT_GT(h, 0);
        Bitmap target = Bitmap::colour(std::min(w, 2048), std::min(h, 2048));
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc);
        uint32_t worst = 0;
        for (int y = 0; y < target.height(); ++y)
            for (int x = 0; x < target.width(); ++x)
                worst = std::max(worst, target.pixel(x, y));
        EXPECT_LE(worst, 0xFFFFFFu) << "a pixel spills into the top byte";
    } else {
        EXPECT_EQ(w, -7);
        EXPECT_EQ(h, -7);
    }

    writeBytes(path, bytes);
    Frames f;
    std::vector<Bitmap> before = framesOf(f.c);
    bool usable = loaded && int64_t { w } * h <= FigureFrames::kMaxPicturePixels;
    EXPECT_EQ(f.c.loadPictureFigure(path), usable ? 1 : 0);
    if (!usable) {
        EXPECT_TRUE(sameFrames(f.c, before)) << "a refused picture changed the frames";
    }
}

} // namespace checks
