// 8-bit, µ-law and A-law samples widened to signed 16-bit. The G.711 values are
// those of the reference expansion (ITU-T G.711 tables, as other decoders give them).
#include "sound/SampleConverter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

using F = WavFile::SampleFormat;

TEST(SampleConverter, WidensOnlyTheUnsignedAndCompandedFormats)
{
    const struct {
        F format;
        bool widens;
    } cases[] = {
        {F::U8, true}, {F::ULaw, true}, {F::ALaw, true}, {F::S16LE, false},
        {F::S24LE, false}, {F::S32LE, false}, {F::Float32LE, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.format));
        EXPECT_EQ(SampleConverter::widens(c.format), c.widens);
        EXPECT_EQ(SampleConverter::outputFormat(c.format), c.widens ? F::S16LE : c.format);
    }
}

TEST(SampleConverter, KnownSamples)
{
    const struct {
        F format;
        std::uint8_t in;
        std::int16_t out;
    } cases[] = {
        // 8-bit: 128 is the centre, and the zero byte a server pads with is the most negative.
        {F::U8, 128, 0}, {F::U8, 0, -32768}, {F::U8, 255, 32512}, {F::U8, 129, 256}, {F::U8, 127, -256},
        // µ-law: both silences, the extremes, and a value from each end of the segments.
        {F::ULaw, 0xFF, 0}, {F::ULaw, 0x7F, 0}, {F::ULaw, 0x00, -32124}, {F::ULaw, 0x80, 32124},
        {F::ULaw, 0x0F, -16764}, {F::ULaw, 0x8F, 16764}, {F::ULaw, 0x70, -120}, {F::ULaw, 0xF0, 120},
        {F::ULaw, 0x55, -716}, {F::ULaw, 0xD5, 716},
        // A-law: the smallest steps either side of zero, the extremes, segment edges.
        {F::ALaw, 0xD5, 8}, {F::ALaw, 0x55, -8}, {F::ALaw, 0xAA, 32256}, {F::ALaw, 0x2A, -32256},
        {F::ALaw, 0x80, 5504}, {F::ALaw, 0x00, -5504}, {F::ALaw, 0xFF, 848}, {F::ALaw, 0x7F, -848},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << int(c.format) << " 0x" << std::hex << int(c.in));
        EXPECT_EQ(SampleConverter::toS16(c.format, c.in), c.out);
    }
}

// Over the 128 magnitudes of a code the value never shrinks, and the two signs mirror
// each other. On the wire µ-law inverts every bit (sign clear = positive after
// that), A-law flips the even bits (sign set = positive).
TEST(SampleConverter, CompandedCodesAreMonotonicAndSymmetric)
{
    const struct {
        F format;
        std::uint8_t positiveSign;
        std::uint8_t wireXor;
    } cases[] = {{F::ULaw, 0x00, 0xFF}, {F::ALaw, 0x80, 0x55}};
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.format));
        int previous = -1;
        for (unsigned m = 0; m < 128; ++m) {
            const int p = SampleConverter::toS16(c.format, std::uint8_t((c.positiveSign | m) ^ c.wireXor));
            const int n = SampleConverter::toS16(c.format, std::uint8_t(((c.positiveSign ^ 0x80) | m) ^ c.wireXor));
            EXPECT_GE(p, 0) << "magnitude " << m;
            EXPECT_EQ(n, -p) << "magnitude " << m;
            EXPECT_GT(p, previous) << "magnitude " << m;
            previous = p;
        }
    }
}

TEST(SampleConverter, WritesLittleEndianSamplesInOrder)
{
    const std::vector<std::uint8_t> in = {0, 128, 255, 1};
    std::vector<std::uint8_t> out(2 * in.size() + 1, 0xEE);
    SampleConverter::toS16LE(F::U8, in.data(), in.size(), out.data());
    const std::vector<std::uint8_t> expected = {0x00, 0x80, 0x00, 0x00, 0x00, 0x7F, 0x00, 0x81, 0xEE};
    EXPECT_EQ(out, expected) << "wrong order, byte order, or a write past the end";
}

} // namespace
