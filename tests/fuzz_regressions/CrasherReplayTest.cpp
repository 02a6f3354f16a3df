// Inputs that once broke a fuzzer (fuzz/), replayed with the fuzzer's own
// checks, and the cases behind each fix spelled out as vectors.

#include "Checks.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

using checks::TempDir;

std::vector<std::filesystem::path> filesIn(const std::string& folder)
{
    std::vector<std::filesystem::path> out;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(std::string(TASSIO_TEST_DATA) + "/" + folder, ec))
        if (e.is_regular_file())
            out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

} // namespace

// Each fuzzer's crashers live in data/<target>/; a new one dropped there is
// replayed with no change to this file.
TEST(FuzzCrashers, KeptInputsPassTheFuzzersChecks)
{
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    std::size_t replayed = 0;
    for (const auto& f : filesIn("settings")) {
        AppSettings first = checks::readSettingsBytes(dir, checks::readBytes(f.string()));
        checks::expectRoundTrip(dir, first, f.filename().string());
        ++replayed;
    }
    for (const auto& f : filesIn("dibimage")) {
        checks::expectPictureHandled(dir.file("figure.bmp"), checks::readBytes(f.string()), f.filename().string());
        ++replayed;
    }
    EXPECT_GE(replayed, 2u) << "crashers missing from " << TASSIO_TEST_DATA;
}

// A '%' is written as %25 only where it would otherwise read back as an escape,
// so no value grows when it is written again.
TEST(SettingsEscape, PercentIsEscapedOnlyWhereItWouldReadAsAnEscape)
{
    struct Case { std::string value, token; };
    const Case cases[] = {
        { "%", "%" },
        { "100%", "100%" },
        { "%%", "%%" },
        { "%2", "%2" },
        { "%41", "%41" },
        { "%0a", "%0a" },              // escapes are upper case only
        { "%25", "%2525" },
        { "%20", "%2520" },
        { "%0A%0D", "%250A%250D" },
        { "% x", "%%20x" },            // the blank's escape follows a bare '%'
        { "%%20", "%%2520" },
        { "%00", "%2500" },            // would read back as the empty value
        { "%000", "%000" },
        { "", "%00" },
        { "a b\tc", "a%20b%09c" },
    };
    for (const Case& c : cases) {
        EXPECT_EQ(encodeSettingsToken(c.value), c.token) << '"' << c.value << '"';
        EXPECT_EQ(decodeSettingsToken(c.token), c.value) << '"' << c.token << '"';
    }
}

// The fuzzer's first finding: a picture line full of bare '%' grew threefold
// when written, past the 1022 characters a line was then read in, and came back as
// different pictures. The same held for a first-line value past 64 KiB.
TEST(SettingsEscape, RewrittenValuesFitWhereTheyWereRead)
{
    const std::string line1 = "1,2,3,4,64,1,4,1,0,NULL NULL\n";
    struct Case {
        const char* name;
        std::string text;
        std::size_t pictures;
    };
    const Case cases[] = {
        { "pathOfPercents", line1 + std::string(1000, '%') + " n\n", 1 },
        { "nameOfPercents", line1 + "p " + std::string(1019, '%') + "\n", 1 },
        { "bothHalves", line1 + std::string(510, '%') + " " + std::string(510, '%') + "\n", 1 },
        { "percentBeforeDigits", line1 + std::string(300, '%') + "2 %0 %%41\n", 1 },
        { "escapedPercentsStayEscaped", line1 + "%2520%2525 %2500\n", 1 },
        { "soundOfPercents", "1,2,3,4,64,1,4,1,0," + std::string(40000, '%') + " t\n", 0 },
        { "textAtTheTokenLimit", "1,2,3,4,64,1,4,1,0,s " + std::string(70000, '%') + "\n", 0 },
    };
    TempDir dir;
    ASSERT_TRUE(dir.ok());
    for (const Case& c : cases) {
        AppSettings first = checks::readSettingsBytes(dir, c.text);
        EXPECT_EQ(std::size_t(first.picturePaths.count()), c.pictures) << c.name;
        checks::expectRoundTrip(dir, first, c.name);
    }
}
