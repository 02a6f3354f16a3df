#include "sound/WavFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <future>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<std::uint8_t>;
using SF = WavFile::SampleFormat;

void put16(Bytes& b, unsigned v)
{
    b.push_back(std::uint8_t(v));
    b.push_back(std::uint8_t(v >> 8));
}

void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}

Bytes cat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

// A chunk with its true size, padded to an even length as RIFF requires.
Bytes chunk(const char* id, const Bytes& body)
{
    Bytes b(id, id + 4);
    put32(b, std::uint32_t(body.size()));
    b.insert(b.end(), body.begin(), body.end());
    if (body.size() & 1)
        b.push_back(0);
    return b;
}

// A chunk header that claims `declared` bytes, followed by `body` as it is.
Bytes chunkClaiming(const char* id, std::uint32_t declared, const Bytes& body)
{
    Bytes b(id, id + 4);
    put32(b, declared);
    b.insert(b.end(), body.begin(), body.end());
    return b;
}

Bytes head(const Bytes& b, std::size_t n)
{
    return Bytes(b.begin(), b.begin() + std::ptrdiff_t(n));
}

Bytes riff(const Bytes& chunks, std::uint32_t declaredSize = 0xFFFFFFFF)
{
    Bytes b{'R', 'I', 'F', 'F'};
    put32(b, declaredSize == 0xFFFFFFFF ? std::uint32_t(chunks.size() + 4) : declaredSize);
    b.insert(b.end(), {'W', 'A', 'V', 'E'});
    b.insert(b.end(), chunks.begin(), chunks.end());
    return b;
}

// fmt body; blockAlign 0 means the consistent value.
Bytes fmt(unsigned tag, unsigned channels, std::uint32_t rate, unsigned bits, unsigned blockAlign = 0)
{
    if (blockAlign == 0)
        blockAlign = channels * bits / 8;
    Bytes b;
    put16(b, tag);
    put16(b, channels);
    put32(b, rate);
    put32(b, rate * blockAlign);
    put16(b, blockAlign);
    put16(b, bits);
    return b;
}

Bytes extensible(unsigned subTag, unsigned channels, std::uint32_t rate, unsigned bits,
                 unsigned validBits, std::uint32_t mask, unsigned cbSize = 22, bool goodGuid = true)
{
    Bytes b = fmt(0xFFFE, channels, rate, bits);
    put16(b, cbSize);
    put16(b, validBits);
    put32(b, mask);
    put16(b, subTag);
    const Bytes suffix{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    b.insert(b.end(), suffix.begin(), suffix.end());
    if (!goodGuid)
        b.back() ^= 0xFF;
    return b;
}

Bytes doubles(std::initializer_list<double> values)
{
    Bytes b;
    for (double d : values) {
        std::uint64_t u;
        std::memcpy(&u, &d, sizeof u);
        for (int i = 0; i < 8; ++i)
            b.push_back(std::uint8_t(u >> (8 * i)));
    }
    return b;
}

Bytes floats(std::initializer_list<float> values)
{
    Bytes b;
    for (float f : values) {
        std::uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        put32(b, u);
    }
    return b;
}

// Parses from a heap block of exactly the file's size, so that AddressSanitizer
// catches any read past its end.
std::optional<WavFile> parse(const Bytes& file)
{
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[file.size() + (file.empty() ? 1 : 0)]);
    if (!file.empty())
        std::memcpy(exact.get(), file.data(), file.size());
    return WavFile::fromBytes(exact.get(), file.size());
}

struct Accepted {
    const char* name;
    Bytes file;
    SF format;
    std::uint32_t rate;
    unsigned channels;
    std::uint32_t mask;
    Bytes samples;
};

const Bytes kPcm16Stereo2Frames{0x01, 0x00, 0xFF, 0x7F, 0x00, 0x80, 0x34, 0x12};

std::vector<Accepted> acceptedCases()
{
    return {
        {"pcm8 mono", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunk("data", {0x00, 0x80, 0xFF})})),
         SF::U8, 8000, 1, 0, {0x00, 0x80, 0xFF}},
        {"pcm16 stereo", riff(cat({chunk("fmt ", fmt(1, 2, 44100, 16)), chunk("data", kPcm16Stereo2Frames)})),
         SF::S16LE, 44100, 2, 0, kPcm16Stereo2Frames},
        {"pcm24 mono kept packed",
         riff(cat({chunk("fmt ", fmt(1, 1, 48000, 24)), chunk("data", {1, 2, 3, 4, 5, 6})})), SF::S24LE,
         48000, 1, 0, {1, 2, 3, 4, 5, 6}},
        {"pcm32 mono", riff(cat({chunk("fmt ", fmt(1, 1, 96000, 32)), chunk("data", {1, 2, 3, 4})})),
         SF::S32LE, 96000, 1, 0, {1, 2, 3, 4}},
        {"float32", riff(cat({chunk("fmt ", fmt(3, 1, 22050, 32)), chunk("data", floats({0.25f, -0.5f}))})),
         SF::Float32LE, 22050, 1, 0, floats({0.25f, -0.5f})},
        {"float64 narrowed, clamped, NaN silenced",
         riff(cat({chunk("fmt ", fmt(3, 1, 44100, 64)),
                   chunk("data", doubles({0.5, -1.0, 2.0, -7.5, std::nan("")}))})),
         SF::Float32LE, 44100, 1, 0, floats({0.5f, -1.0f, 1.0f, -1.0f, 0.0f})},
        {"a-law", riff(cat({chunk("fmt ", fmt(6, 1, 8000, 8)), chunk("data", {0xD5, 0x55})})), SF::ALaw,
         8000, 1, 0, {0xD5, 0x55}},
        {"mu-law", riff(cat({chunk("fmt ", fmt(7, 2, 8000, 8)), chunk("data", {0xFF, 0x7F})})), SF::ULaw,
         8000, 2, 0, {0xFF, 0x7F}},
        {"extensible pcm16 with speaker mask",
         riff(cat({chunk("fmt ", extensible(1, 2, 44100, 16, 16, 0x3)), chunk("data", kPcm16Stereo2Frames)})),
         SF::S16LE, 44100, 2, 0x3, kPcm16Stereo2Frames},
        {"extensible 24 valid bits in 32",
         riff(cat({chunk("fmt ", extensible(1, 1, 48000, 32, 24, 0x4)), chunk("data", {0, 1, 2, 3})})),
         SF::S32LE, 48000, 1, 0x4, {0, 1, 2, 3}},
        {"extensible float32",
         riff(cat({chunk("fmt ", extensible(3, 1, 48000, 32, 32, 0)), chunk("data", floats({0.125f}))})),
         SF::Float32LE, 48000, 1, 0, floats({0.125f})},
        {"extensible mask naming too few speakers is dropped",
         riff(cat({chunk("fmt ", extensible(1, 2, 44100, 16, 16, 0x1)), chunk("data", kPcm16Stereo2Frames)})),
         SF::S16LE, 44100, 2, 0, kPcm16Stereo2Frames},
        {"eight channels", riff(cat({chunk("fmt ", fmt(1, 8, 8000, 8)), chunk("data", Bytes(16, 0x80))})),
         SF::U8, 8000, 8, 0, Bytes(16, 0x80)},
        {"rate limits low", riff(cat({chunk("fmt ", fmt(1, 1, 1000, 8)), chunk("data", {7})})), SF::U8,
         1000, 1, 0, {7}},
        {"rate limits high", riff(cat({chunk("fmt ", fmt(1, 1, 384000, 8)), chunk("data", {7})})), SF::U8,
         384000, 1, 0, {7}},
        // Odd-sized unknown chunks: without the pad byte the next header is misread.
        {"odd unknown chunks padded",
         riff(cat({chunk("LIST", {1, 2, 3}), chunk("fmt ", fmt(1, 1, 8000, 8)), chunk("junk", {9}),
                   chunk("data", {5, 6})})),
         SF::U8, 8000, 1, 0, {5, 6}},
        {"odd data chunk then trailing chunk",
         riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunk("data", {1, 2, 3}), chunk("LIST", {4})})),
         SF::U8, 8000, 1, 0, {1, 2, 3}},
        {"data before fmt",
         riff(cat({chunk("data", {1, 2, 3, 4}), chunk("fmt ", fmt(1, 2, 8000, 16))})), SF::S16LE, 8000, 2,
         0, {1, 2, 3, 4}},
        {"fmt with cbSize and extra bytes",
         riff(cat({chunk("fmt ", cat({fmt(1, 1, 8000, 8), {0, 0}})), chunk("data", {1})})), SF::U8, 8000, 1,
         0, {1}},
        {"second fmt ignored",
         riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunk("fmt ", fmt(1, 2, 8000, 16)), chunk("data", {1, 2})})),
         SF::U8, 8000, 1, 0, {1, 2}},
        {"truncated data plays whole frames there",
         riff(cat({chunk("fmt ", fmt(1, 2, 8000, 16)), chunkClaiming("data", 1000, {1, 2, 3, 4, 5, 6, 7})})),
         SF::S16LE, 8000, 2, 0, {1, 2, 3, 4}},
        {"data size 0xFFFFFFFF from a streaming writer",
         riff(cat({chunk("fmt ", fmt(1, 1, 8000, 16)), chunkClaiming("data", 0xFFFFFFFF, {1, 2, 3, 4})})),
         SF::S16LE, 8000, 1, 0, {1, 2, 3, 4}},
        {"partial last frame dropped",
         riff(cat({chunk("fmt ", fmt(1, 2, 8000, 24)), chunk("data", Bytes(8, 1))})), SF::S24LE, 8000, 2, 0,
         Bytes(6, 1)},
        {"empty data chunk", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 16)), chunk("data", {})})), SF::S16LE,
         8000, 1, 0, {}},
        {"RIFF size zero", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunk("data", {3})}), 0), SF::U8, 8000,
         1, 0, {3}},
    };
}

TEST(WavFile, AcceptsEveryPlayableLayout)
{
    for (const Accepted& c : acceptedCases()) {
        SCOPED_TRACE(c.name);
        const std::optional<WavFile> wav = parse(c.file);
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->format(), c.format);
        EXPECT_EQ(wav->rate(), c.rate);
        EXPECT_EQ(wav->channels(), c.channels);
        EXPECT_EQ(wav->channelMask(), c.mask);
        EXPECT_EQ(wav->samples(), c.samples);
        EXPECT_EQ(wav->samples().size() % wav->bytesPerFrame(), 0u);
    }
}

struct Refused {
    const char* name;
    Bytes file;
};

std::vector<Refused> refusedCases()
{
    const Bytes data = chunk("data", {0, 0, 0, 0});
    return {
        {"empty", {}},
        {"shorter than a header", {'R', 'I', 'F', 'F', 0, 0}},
        {"not RIFF", cat({{'R', 'I', 'F', 'X', 4, 0, 0, 0, 'W', 'A', 'V', 'E'}, chunk("fmt ", fmt(1, 1, 8000, 8)), data})},
        {"not WAVE", cat({{'R', 'I', 'F', 'F', 4, 0, 0, 0, 'A', 'V', 'I', ' '}, chunk("fmt ", fmt(1, 1, 8000, 8)), data})},
        {"no chunks", riff({})},
        {"missing fmt", riff(data)},
        {"missing data", riff(chunk("fmt ", fmt(1, 1, 8000, 8)))},
        {"data cut before its header ends", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), {'d', 'a', 't', 'a', 4, 0}}))},
        {"fmt shorter than 16 bytes", riff(cat({chunk("fmt ", head(fmt(1, 1, 8000, 8), 14)), data}))},
        {"fmt truncated by end of file", riff(chunkClaiming("fmt ", 16, head(fmt(1, 1, 8000, 8), 10)))},
        {"fmt claiming 4 GiB", riff(cat({chunkClaiming("fmt ", 0xFFFFFFF0, fmt(1, 1, 8000, 8)), data}))},
        {"unknown chunk claiming 4 GiB hides fmt", riff(cat({chunkClaiming("LIST", 0xFFFFFFF0, {}), chunk("fmt ", fmt(1, 1, 8000, 8)), data}))},
        {"unknown chunk size overruns by one", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunkClaiming("LIST", 9, Bytes(8, 0))}))},
        {"zero channels", riff(cat({chunk("fmt ", fmt(1, 0, 8000, 16, 2)), data}))},
        {"nine channels", riff(cat({chunk("fmt ", fmt(1, 9, 8000, 8)), chunk("data", Bytes(18, 0))}))},
        {"65535 channels", riff(cat({chunk("fmt ", fmt(1, 65535, 8000, 8, 65535)), data}))},
        {"rate zero", riff(cat({chunk("fmt ", fmt(1, 1, 0, 8)), data}))},
        {"rate just below the floor", riff(cat({chunk("fmt ", fmt(1, 1, 999, 8)), data}))},
        {"rate just above the ceiling", riff(cat({chunk("fmt ", fmt(1, 1, 384001, 8)), data}))},
        {"rate 4 GHz", riff(cat({chunk("fmt ", fmt(1, 1, 0xFFFFFFFF, 8)), data}))},
        {"pcm 12 bits", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 12, 2)), data}))},
        {"pcm 0 bits", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 0, 1)), data}))},
        {"pcm 64 bits", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 64)), data}))},
        {"float 16 bits", riff(cat({chunk("fmt ", fmt(3, 1, 8000, 16)), data}))},
        {"a-law 16 bits", riff(cat({chunk("fmt ", fmt(6, 1, 8000, 16)), data}))},
        {"compressed (ADPCM)", riff(cat({chunk("fmt ", fmt(2, 1, 8000, 4, 256)), data}))},
        {"block align disagrees", riff(cat({chunk("fmt ", fmt(1, 2, 8000, 16, 3)), data}))},
        {"24-bit in 4-byte blocks without extensible", riff(cat({chunk("fmt ", fmt(1, 1, 8000, 24, 4)), data}))},
        {"extensible fmt of 16 bytes", riff(cat({chunk("fmt ", fmt(0xFFFE, 1, 8000, 16)), data}))},
        {"extensible cbSize too small", riff(cat({chunk("fmt ", extensible(1, 1, 8000, 16, 16, 0, 10)), data}))},
        {"extensible foreign GUID", riff(cat({chunk("fmt ", extensible(1, 1, 8000, 16, 16, 0, 22, false)), data}))},
        {"extensible ADPCM", riff(cat({chunk("fmt ", extensible(2, 1, 8000, 16, 16, 0)), data}))},
        {"extensible valid bits above container", riff(cat({chunk("fmt ", extensible(1, 1, 8000, 16, 24, 0)), data}))},
        {"extensible nested extensible", riff(cat({chunk("fmt ", extensible(0xFFFE, 1, 8000, 16, 16, 0)), data}))},
    };
}

TEST(WavFile, RefusesWhatItCannotPlay)
{
    for (const Refused& c : refusedCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(parse(c.file).has_value());
    }
    EXPECT_FALSE(WavFile::fromBytes(nullptr, 100).has_value());
}

// Every prefix of a good file: refused or whole frames taken from within the prefix.
TEST(WavFile, EveryTruncationIsRefusedOrYieldsWholeFramesFromWhatIsThere)
{
    const Bytes samples{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const Bytes file = riff(cat({chunk("LIST", {1, 2, 3}), chunk("fmt ", fmt(1, 2, 8000, 16)), chunk("data", samples)}));
    const std::size_t dataStart = file.size() - samples.size();
    for (std::size_t n = 0; n <= file.size(); ++n) {
        SCOPED_TRACE(n);
        const Bytes prefix(file.begin(), file.begin() + std::ptrdiff_t(n));
        const std::optional<WavFile> wav = parse(prefix);
        if (n < dataStart) {
            EXPECT_FALSE(wav.has_value());
            continue;
        }
        ASSERT_TRUE(wav.has_value());
        const std::size_t whole = (n - dataStart) / 4 * 4;
        EXPECT_EQ(wav->samples(), Bytes(samples.begin(), samples.begin() + std::ptrdiff_t(whole)));
    }
}

TEST(WavFile, DurationCountsFrames)
{
    const struct {
        std::uint32_t rate;
        unsigned channels;
        unsigned bits;
        std::size_t dataBytes;
        std::uint64_t us;
    } cases[] = {
        {8000, 1, 8, 8000, 1000000},
        {44100, 2, 16, 44100 * 4 / 2, 500000},
        {48000, 6, 24, 48 * 6 * 3, 1000},
        {22050, 1, 16, 2, 45}, // one frame, rounded down
        {8000, 1, 16, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rate);
        const auto wav = parse(riff(cat({chunk("fmt ", fmt(1, c.channels, c.rate, c.bits)), chunk("data", Bytes(c.dataBytes, 0))})));
        ASSERT_TRUE(wav.has_value());
        EXPECT_EQ(wav->durationUs(), c.us);
    }
}

class WavFileOnDisk : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tassio-wav-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string write(const std::string& name, const Bytes& bytes)
    {
        const std::string path = dir_ + "/" + name;
        FILE* f = std::fopen(path.c_str(), "wb");
        EXPECT_NE(f, nullptr);
        if (f != nullptr) {
            std::fwrite(bytes.data(), 1, bytes.size(), f);
            std::fclose(f);
        }
        return path;
    }

    std::string dir_;
};

TEST_F(WavFileOnDisk, ReadsARegularFile)
{
    const auto wav = WavFile::fromFile(write("tone.wav", riff(cat({chunk("fmt ", fmt(1, 2, 44100, 16)), chunk("data", kPcm16Stereo2Frames)}))));
    ASSERT_TRUE(wav.has_value());
    EXPECT_EQ(wav->samples(), kPcm16Stereo2Frames);
}

TEST_F(WavFileOnDisk, RefusesWhatIsNotARegularFile)
{
    EXPECT_FALSE(WavFile::fromFile(dir_ + "/missing.wav").has_value());
    EXPECT_FALSE(WavFile::fromFile(dir_).has_value());
    EXPECT_FALSE(WavFile::fromFile("/dev/zero").has_value());
    EXPECT_FALSE(WavFile::fromFile("").has_value());
    EXPECT_FALSE(WavFile::fromFile(write("garbage.wav", Bytes(100, 0x55))).has_value());
}

TEST_F(WavFileOnDisk, DoesNotBlockOnAFifo)
{
    const std::string fifo = dir_ + "/pipe.wav";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    auto result = std::async(std::launch::async, [&] { return WavFile::fromFile(fifo).has_value(); });
    if (result.wait_for(std::chrono::seconds(3)) != std::future_status::ready) {
        // Free the reader so the test can end, then fail.
        const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
        if (fd >= 0)
            ::close(fd);
        FAIL() << "fromFile blocked on a FIFO";
    }
    EXPECT_FALSE(result.get());
}

TEST_F(WavFileOnDisk, RefusesFilesOverTheSizeLimit)
{
    // Sparse: the size check must come before any read.
    const std::string path = dir_ + "/huge.wav";
    const Bytes head = riff(cat({chunk("fmt ", fmt(1, 1, 8000, 8)), chunkClaiming("data", 0xFFFFFFFF, {})}));
    write("huge.wav", head);
    ASSERT_EQ(::truncate(path.c_str(), off_t(WavFile::maxFileBytes) + 1), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(WavFile::fromFile(path).has_value());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));

    // One byte smaller is read in full and played as one long silence.
    ASSERT_EQ(::truncate(path.c_str(), off_t(WavFile::maxFileBytes)), 0);
    const auto wav = WavFile::fromFile(path);
    ASSERT_TRUE(wav.has_value());
    EXPECT_EQ(wav->samples().size(), WavFile::maxFileBytes - head.size());
}

} // namespace
