// Files built to hurt: sizes that would exhaust memory, files that never end,
// pathological settings. Each must be refused or read in bounded time and
// memory, without blocking and without the two picture lists falling out of step.

#include "AllocationProbe.h"
#include "Checks.h"
#include "TestBmp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using checks::TempDir;
using Bytes = std::vector<uint8_t>;

// A .bmp header (and an all-zero palette for palette depths) claiming w x h,
// followed by only `pixels` bytes.
Bytes claimedHeader(int32_t w, int32_t h, int bits, std::size_t pixels)
{
    const std::size_t palette = bits <= 8 ? (std::size_t { 4 } << bits) : 0;
    Bytes b(54 + palette + pixels, 0);
    b[0] = 'B';
    b[1] = 'M';
    testbmp::put32(b, 2, uint32_t(b.size()));
    testbmp::put32(b, 10, uint32_t(54 + palette));
    testbmp::put32(b, 14, 40);
    testbmp::put32(b, 18, uint32_t(w));
    testbmp::put32(b, 22, uint32_t(h));
    testbmp::put16(b, 26, 1);
    testbmp::put16(b, 28, uint32_t(bits));
    if (bits <= 8)
        testbmp::put32(b, 54 + 4, 0x00FF0000); // index 1 is red, index 0 black
    return b;
}

std::string asString(const Bytes& b) { return { b.begin(), b.end() }; }

// A 1-bit picture of w x h with the pixel array left as a hole in the file, so
// it takes no disk and no time to make however large it claims to be.
bool writeSparsePicture(const std::string& path, int32_t w, int32_t h, std::size_t& fileSize)
{
    Bytes header = claimedHeader(w, h, 1, 0);
    const uint64_t rowBytes = ((uint64_t(w) + 31) / 32) * 4;
    fileSize = header.size() + static_cast<std::size_t>(rowBytes * uint64_t(h));
    testbmp::put32(header, 2, uint32_t(fileSize));
    checks::writeBytes(path, asString(header));
    return truncate(path.c_str(), static_cast<off_t>(fileSize)) == 0;
}

// Runs fn in a child process; true when it finished (and returned true) within
// the time allowed. A call that blocks is killed rather than hanging the test.
bool finishesWithin(int seconds, const std::function<bool()>& fn, std::string& why)
{
    pid_t pid = fork();
    if (pid < 0) {
        why = "fork failed";
        return false;
    }
    if (pid == 0) {
        alarm(unsigned(seconds) + 5); // never outlive the parent's wait
        _exit(fn() ? 0 : 1);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            why = "blocked";
            return false;
        }
        usleep(10 * 1000);
    }
    if (WIFSIGNALED(status)) {
        why = "died of signal " + std::to_string(WTERMSIG(status));
        return false;
    }
    why = WEXITSTATUS(status) == 0 ? "" : "wrong result";
    return WEXITSTATUS(status) == 0;
}

} // namespace

TEST(AllocationProbe, SeesLargeRequests)
{
    // Guards the tests below: a probe that saw nothing would pass them all.
    AllocationProbe probe;
    std::vector<char> big(3 << 20);
    std::unique_ptr<uint8_t[]> raw(new (std::nothrow) uint8_t[5 << 20]);
    EXPECT_GE(probe.largest(), std::size_t { 5 } << 20);
    EXPECT_GE(probe.peak(), std::size_t { 8 } << 20);
    EXPECT_FALSE(big.empty() || !raw);
}

TEST(HostileHeaders, HugeClaimsInTinyFilesAllocateNothingLarge)
{
    struct Case { const char* name; int32_t w, h; int bits; };
    const Case cases[] = {
        { "24bit30000Square", 30000, 30000, 24 },
        { "8bit30000Square", 30000, 30000, 8 },
        { "1bit30000Square", 30000, 30000, 1 },
        { "32bit30000TopDown", 30000, -30000, 32 },
        { "16bitWidestRow", INT32_MAX, 1, 16 },
        { "1bitTallestColumn", 1, INT32_MAX, 1 },
        { "32bitLargestBoth", INT32_MAX, INT32_MAX, 32 },
    };
    // The whole file is read, plus the decoder's fixed tables; nothing near
    // the size the header claims.
    constexpr std::size_t kSmall = 64 * 1024;
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes bmp = claimedHeader(c.w, c.h, c.bits, 1024);
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        checks::writeBytes(path, asString(bmp));
        {
            AllocationProbe probe;
            DibImage fromBytes(bmp.data(), bmp.size());
            DibImage fromFile(path);
            int w = -7, h = -7;
            EXPECT_EQ(fromBytes.GetImageSize(w, h), -1);
            EXPECT_EQ(fromFile.GetImageSize(w, h), -1);
            EXPECT_EQ(w, -7);
            EXPECT_LT(probe.largest(), kSmall);
            EXPECT_LT(probe.peak(), kSmall);
        }
        checks::Frames f;
        const std::vector<Bitmap> before = checks::framesOf(f.c);
        AllocationProbe probe;
        EXPECT_EQ(f.c.loadPictureFigure(path), 0);
        EXPECT_LT(probe.peak(), kSmall);
        EXPECT_TRUE(checks::sameFrames(f.c, before));
    }
}

TEST(HostileHeaders, PicturesOverThePixelLimitAreRefusedAsFigures)
{
    // Complete, valid 1-bit files: only their pixel count may refuse them. The
    // last row is under the limit and must be taken, or the rest prove nothing.
    struct Case { const char* name; int32_t w, h; bool accepted; };
    const Case cases[] = {
        { "square", 10001, 10001, false },
        { "wide", 20000, 5001, false },
        { "oneRowPastTheLimit", 100'000'001, 1, false },
        { "tallThinUnderTheLimit", 32, 200'000, true },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        std::size_t fileSize = 0;
        ASSERT_TRUE(writeSparsePicture(path, c.w, c.h, fileSize));
        ASSERT_EQ(int64_t { c.w } * c.h > FigureFrames::kMaxPicturePixels, !c.accepted);
        {
            DibImage image(path);
            int w = 0, h = 0;
            ASSERT_EQ(image.GetImageSize(w, h), 0) << "the file itself must be a valid picture";
            EXPECT_EQ(w, c.w);
            EXPECT_EQ(h, c.h);
        }
        checks::Frames f;
        const std::vector<Bitmap> before = checks::framesOf(f.c);
        AllocationProbe probe;
        EXPECT_EQ(f.c.loadPictureFigure(path), c.accepted ? 1 : 0);
        EXPECT_EQ(checks::sameFrames(f.c, before), !c.accepted);
        if (!c.accepted) {
            // The file is read to find its size; no row or frame buffer follows.
            EXPECT_LT(probe.peak(), fileSize + 64 * 1024);
        }
    }
}

// A picture's width used to cost a table entry per column on top of the row
// being decoded: a 12.5 MB file one row of 10^8 pixels wide took 1.2 GB.
TEST(HostileHeaders, WidePicturesCostOneRowBeyondTheirFile)
{
    struct Case { const char* name; int32_t w, h; };
    const Case cases[] = {
        { "oneRow", 10'000'000, 1 },
        { "fiveRows", 2'000'000, 5 },
        { "square", 3000, 3000 },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file(std::string(c.name) + ".bmp");
        std::size_t fileSize = 0;
        ASSERT_TRUE(writeSparsePicture(path, c.w, c.h, fileSize));
        checks::Frames f;
        AllocationProbe probe;
        ASSERT_EQ(f.c.loadPictureFigure(path), 1);
        // The file, one decoded row, and the fixed 96 x 96 work.
        EXPECT_LT(probe.peak(), fileSize + 4 * std::size_t(c.w) + (1 << 20));
    }
}

// A colour mask is meant to be one run of ones. One with a gap used to let the
// bits above the gap spill into the next channel and past 0x00RRGGBB; only
// the lowest run counts now.
TEST(HostileHeaders, BrokenBitMasksStayInTheirChannel)
{
    struct Case { const char* name; int bits; uint32_t red, green, blue, stored, drawn; };
    const Case cases[] = {
        { "contiguous32", 32, 0x00FF0000, 0x0000FF00, 0x000000FF, 0xAB123456, 0x123456 },
        { "greenWithAGap", 32, 0x00FF0000, 0xFF00FF00, 0x000000FF, 0xAB123456, 0x123456 },
        { "blueTwelveBitsThenAGap", 32, 0, 0, 0xFF000FFF, 0xFF000ABC, 0x0000AB },
        { "redWholeWord", 32, 0xFFFFFFFF, 0, 0, 0x9A000000, 0x9A0000 },
        { "blueWithAGap16", 16, 0x7C00, 0x03E0, 0x801F, 0x801F, 0x0000FF },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes b = claimedHeader(1, 1, c.bits, 12 + 4);
        testbmp::put32(b, 10, 54 + 12);
        testbmp::put32(b, 30, 3); // bit fields
        testbmp::put32(b, 54, c.red);
        testbmp::put32(b, 58, c.green);
        testbmp::put32(b, 62, c.blue);
        testbmp::put32(b, 66, c.stored);
        DibImage image(b.data(), b.size());
        ASSERT_TRUE(image.hasData());
        Bitmap target = Bitmap::colour(1, 1);
        MemoryDC dc;
        dc.select(&target);
        image.Draw(dc);
        EXPECT_EQ(target.pixel(0, 0), c.drawn);
        uint32_t row = 0;
        ASSERT_TRUE(image.decodeRow(0, &row));
        EXPECT_EQ(row, c.drawn);
    }
}

TEST(HostileFiles, SpecialFilesNeverBlock)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    const std::string fifo = dir.file("fifo");
    const std::string heldFifo = dir.file("held-fifo");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    ASSERT_EQ(mkfifo(heldFifo.c_str(), 0600), 0);
    // A writer that never writes: opening for reading succeeds, reading waits.
    int writer = open(heldFifo.c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    const std::string zeroLink = dir.file("zero.bmp");
    ASSERT_EQ(symlink("/dev/zero", zeroLink.c_str()), 0);

    struct Case { const char* name; std::string path; };
    const Case files[] = {
        { "fifoWithoutWriter", fifo },
        { "fifoWithSilentWriter", heldFifo },
        { "devZero", "/dev/zero" },
        { "devUrandom", "/dev/urandom" },
        { "devNull", "/dev/null" },
        { "linkToDevZero", zeroLink },
        { "directory", dir.path() },
    };
    struct Reader { const char* name; std::function<bool(const std::string&)> refuses; };
    const Reader readers[] = {
        { "DibImage", [](const std::string& p) { DibImage i(p); return !i.hasData(); } },
        { "loadPictureFigure", [](const std::string& p) { checks::Frames f; return f.c.loadPictureFigure(p) == 0; } },
        { "readSettingsFile", [](const std::string& p) {
              AppSettings s;
              readSettingsFile(p, s);
              return s.anchorX == -1 && s.pictures.count() == 0;
          } },
    };
    for (const Case& c : files) {
        for (const Reader& r : readers) {
            std::string why;
            EXPECT_TRUE(finishesWithin(10, [&] { return r.refuses(c.path); }, why))
                << r.name << " on " << c.name << ": " << why;
        }
    }
    close(writer);
}

TEST(HostileSettings, ManyPictureLinesReadInLinearTime)
{
    struct Case { const char* name; std::function<std::string(int)> line; bool kept; };
    const Case cases[] = {
        { "plain", [](int i) { return "/p/" + std::to_string(i) + ".bmp n" + std::to_string(i) + "\n"; }, true },
        { "escapedCrlf", [](int i) { return "/my%20p/" + std::to_string(i) + "%25 my%20n\r\n"; }, true },
        { "threeTokens", [](int i) { return "\t/p" + std::to_string(i) + "  a b\n"; }, true },
        { "oneToken", [](int i) { return "/p/" + std::to_string(i) + ".bmp\n"; }, false },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    auto fileOf = [](const Case& c, int lines) {
        std::string text = "640,455,100,128,64,1,4,1,0,NULL NULL\n";
        for (int i = 0; i < lines; ++i)
            text += c.line(i);
        return text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const int n = 100000;
        const std::string big = fileOf(c, n);
        AppSettings s = checks::readSettingsBytes(dir, big);
        EXPECT_EQ(s.pictures.count(), c.kept ? n : 0);
        if (c.kept && s.pictures.count() == n) {
            AppSettings last = checks::readSettingsBytes(dir, fileOf(c, 0) + c.line(n - 1));
            EXPECT_EQ(s.pictures.at(n - 1).path, last.pictures.at(0).path);
            EXPECT_EQ(s.pictures.at(n - 1).name, last.pictures.at(0).name);
        }
        checks::expectRoundTrip(dir, s, c.name);
    }
}

TEST(HostileSettings, TenMegabyteTokensStayBounded)
{
    const std::string tenMB(10 << 20, 'A');
    const std::string tenMBPercent(10 << 20, '%');
    const std::string line1 = "1,2,3,4,5,6,7,8,9,";
    struct Case { const char* name; std::string text; const char* text2; };
    std::string blanks;
    for (int i = 0; i < (10 << 20) / 3; ++i)
        blanks += "%20";
    const Case cases[] = {
        { "soundToken", line1 + tenMB + " x\n/a A\n", "x" },
        { "soundOfPercents", line1 + tenMBPercent + " x\n", "x" },
        { "textToken", line1 + "s " + tenMB + "\n/a A\n", nullptr },
        { "picturePath", line1 + "s t\n" + tenMB + " name\n/a A\n", "t" },
        { "pictureOfEscapes", line1 + "s t\n" + blanks + " " + blanks + "\n", "t" },
        { "wholeFileOneToken", tenMB, nullptr },
        { "firstNumberTenMBLong", std::string(10 << 20, '9') + ",2\n", nullptr },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        AppSettings s = checks::readSettingsBytes(dir, c.text);
        EXPECT_LE(s.soundFile.size(), 64u * 1024u);
        EXPECT_LE(s.textProgram.size(), 64u * 1024u);
        if (c.text2) {
            EXPECT_EQ(s.textProgram, c.text2);
        }
        for (const UserPicture& p : s.pictures) {
            EXPECT_LE(p.path.size(), 64u * 1024u);
            EXPECT_LE(p.name.size(), 64u * 1024u);
        }
        checks::expectRoundTrip(dir, s, c.name);
    }
    AppSettings big = checks::readSettingsBytes(dir, std::string(10 << 20, '9') + ",2\n");
    EXPECT_EQ(big.anchorX, INT_MAX) << "a too-long number saturates";
    EXPECT_EQ(big.anchorY, 2);
}

TEST(HostileSettings, BinaryGarbageWithNulBytes)
{
    // A fixed generator, so a failure names a reproducible input.
    auto garbage = [](std::size_t n, uint32_t seed, int nulEvery) {
        std::string s(n, '\0');
        for (std::size_t i = 0; i < n; ++i) {
            seed = seed * 1664525u + 1013904223u;
            s[i] = nulEvery && i % std::size_t(nulEvery) == 0 ? '\0' : char(seed >> 24);
        }
        return s;
    };
    const std::string valid = "640,455,100,128,64,1,4,1,0,snd txt\n/a.bmp A\n/b.bmp B\n";
    std::string nulAfterEachByte;
    for (char ch : valid) {
        nulAfterEachByte += ch;
        nulAfterEachByte += '\0';
    }
    struct Case { const char* name; std::string text; };
    const Case cases[] = {
        { "oneByte", garbage(1, 1, 0) },
        { "random4K", garbage(4096, 2, 0) },
        { "random1M", garbage(1 << 20, 3, 0) },
        { "randomNulEvery7", garbage(1 << 16, 4, 7) },
        { "allNul", std::string(1 << 16, '\0') },
        { "nulAfterEachByte", nulAfterEachByte },
        { "validThenGarbage", valid + garbage(1 << 16, 5, 3) },
        { "garbageLines", [&] {
              std::string s;
              for (int i = 0; i < 2000; ++i)
                  s += garbage(std::size_t(i % 97), uint32_t(i), 5) + (i % 2 ? "\n" : " x\n");
              return s;
          }() },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        AppSettings s = checks::readSettingsBytes(dir, c.text);
        checks::expectRoundTrip(dir, s, c.name);
        // The same bytes as a picture, bare and behind a plausible header.
        Bytes header = claimedHeader(64, 64, 24, 0);
        std::string withHeader = asString(header) + c.text;
        checks::expectPictureHandled(dir.file("g.bmp"), c.text, c.name);
        checks::expectPictureHandled(dir.file("g.bmp"), withHeader, std::string(c.name) + " with header");
    }
    AppSettings nul = checks::readSettingsBytes(dir, nulAfterEachByte);
    EXPECT_EQ(nul.anchorX, 6) << "the first value ends at its first NUL";
}
