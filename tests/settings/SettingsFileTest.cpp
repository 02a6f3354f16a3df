#include "PictureLists.h"

#include "files/ReplaceFile.h"
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "Unprivileged.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <tuple>
#include <vector>

using namespace testfs;

namespace {

AppSettings readFrom(const std::string& bytes)
{
    TempDir dir("settings");
    writeBytes(dir.file("Tassio.ini"), bytes);
    AppSettings s;
    readSettingsFile(dir.file("Tassio.ini"), s);
    return s;
}

} // namespace

TEST(SettingsFilePath, CutsAtTheLastSlash)
{
    EXPECT_EQ(settingsFilePath("/usr/local/bin/tassio"), "/usr/local/bin/Tassio.ini");
    EXPECT_EQ(settingsFilePath("/tassio"), "/Tassio.ini");
    EXPECT_EQ(settingsFilePath("/a b/c.d/tassio"), "/a b/c.d/Tassio.ini");
    // No slash: the path stays whole.
    EXPECT_EQ(settingsFilePath("tassio"), "tassio/Tassio.ini");
}

TEST(UserPictures, AddAtRemoveKeepOrderAndPairs)
{
    UserPictures l;
    for (const char* s : { "a", "b", "c", "d" })
        l.add(std::string("/p/") + s, s);
    l.removeAt(1);
    l.removeAt(7);  // ignored
    l.removeAt(-1); // ignored
    EXPECT_EQ(pictureNames(l), (std::vector<std::string> { "a", "c", "d" }));
    EXPECT_EQ(picturePaths(l), (std::vector<std::string> { "/p/a", "/p/c", "/p/d" }));
    EXPECT_EQ(l.count(), 3);
    EXPECT_EQ(l.at(2), (UserPicture { "/p/d", "d" }));
}

TEST(ReadSettings, MissingFileKeepsDefaults)
{
    AppSettings s;
    s.anchorX = 5;
    readSettingsFile("/nonexistent/dir/Tassio.ini", s);
    EXPECT_EQ(s.anchorX, 5);
    EXPECT_EQ(s.soundFile, "NULL");
}

struct FirstLineCase {
    const char* name;
    const char* text;
    int anchorX, anchorY, tickInterval, pendulumLength, swingAngle, alwaysOnTop, figureIndex, uniformSwing,
        changePictureOnDrop;
    const char* soundFile;
    const char* textProgram;
};

class ReadFirstLine : public testing::TestWithParam<FirstLineCase> { };

TEST_P(ReadFirstLine, SetsTheFieldsScannedBeforeAnyMismatch)
{
    const FirstLineCase& c = GetParam();
    AppSettings s = readFrom(c.text);
    EXPECT_EQ(s.anchorX, c.anchorX);
    EXPECT_EQ(s.anchorY, c.anchorY);
    EXPECT_EQ(s.tickInterval, c.tickInterval);
    EXPECT_EQ(s.pendulumLength, c.pendulumLength);
    EXPECT_EQ(s.swingAngle, c.swingAngle);
    EXPECT_EQ(s.alwaysOnTop, c.alwaysOnTop);
    EXPECT_EQ(s.figureIndex, c.figureIndex);
    EXPECT_EQ(s.uniformSwing, c.uniformSwing);
    EXPECT_EQ(s.changePictureOnDrop, c.changePictureOnDrop);
    EXPECT_EQ(s.soundFile, c.soundFile);
    EXPECT_EQ(s.textProgram, c.textProgram);
}

INSTANTIATE_TEST_SUITE_P(Vectors, ReadFirstLine, testing::Values(
    FirstLineCase { "full", "640,455,100,128,64,1,4,1,0,NULL NULL\n",
                    640, 455, 100, 128, 64, 1, 4, 1, 0, "NULL", "NULL" },
    FirstLineCase { "order", "1,2,30,400,70,0,2,0,1,/snd/a.wav /usr/bin/prog\n",
                    1, 2, 30, 400, 70, 0, 2, 0, 1, "/snd/a.wav", "/usr/bin/prog" },
    FirstLineCase { "crlf", "1,2,30,400,70,0,2,0,1,a b\r\n",
                    1, 2, 30, 400, 70, 0, 2, 0, 1, "a", "b" },
    FirstLineCase { "angleLow8Bits", "0,0,100,128,300,1,0,1,0,NULL NULL\n",
                    0, 0, 100, 128, 44, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "angleMinusOne", "0,0,100,128,-1,1,0,1,0,NULL NULL\n",
                    0, 0, 100, 128, 255, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "endsAfterNinthNumber", "5,6,7,8,9,0,1,0,1\n",
                    5, 6, 7, 8, 9, 0, 1, 0, 1, "NULL", "NULL" },
    FirstLineCase { "mismatchInThird", "5,6,x,8,9,0,1,0,1,a b\n",
                    5, 6, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "blankBeforeComma", "5 ,6,7,8,9,0,1,0,1,a b\n",
                    5, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "blanksBeforeNumbers", "  5,\t6, 7,8,9,0,1,0,1,a b\n",
                    5, 6, 7, 8, 9, 0, 1, 0, 1, "a", "b" },
    FirstLineCase { "onlyOneToken", "1,2,3,4,5,0,0,0,0,only\n",
                    1, 2, 3, 4, 5, 0, 0, 0, 0, "only", "NULL" },
    FirstLineCase { "tokensAcrossLines", "1,2,3,4,5,0,0,0,0,one\n\n  two\n",
                    1, 2, 3, 4, 5, 0, 0, 0, 0, "one", "two" },
    FirstLineCase { "hugeNumbersSaturate", "99999999999999999999,-99999999999999999999,3,4,5,0,0,0,0,a b\n",
                    INT_MAX, INT_MIN, 3, 4, 5, 0, 0, 0, 0, "a", "b" },
    FirstLineCase { "empty", "", -1, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "byteOrderMark", "\xEF\xBB\xBF" "640,455,100,128,64,1,4,1,0,/s.wav /t\n",
                    640, 455, 100, 128, 64, 1, 4, 1, 0, "/s.wav", "/t" },
    FirstLineCase { "byteOrderMarkAlone", "\xEF\xBB\xBF", -1, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    // Only one mark is skipped: a second one is a garbled first line.
    FirstLineCase { "twoByteOrderMarks", "\xEF\xBB\xBF\xEF\xBB\xBF" "1,2,3,4,5,0,0,0,0,a b\n",
                    -1, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    FirstLineCase { "partOfAMark", "\xEF\xBB" "1,2,3,4,5,0,0,0,0,a b\n",
                    -1, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" },
    // Values are read as written, however far outside the sliders' ranges.
    FirstLineCase { "outOfRangeValues", "5000,-9000,0,-300,64,7,-2,9,-1,NULL NULL\n",
                    5000, -9000, 0, -300, 64, 7, -2, 9, -1, "NULL", "NULL" }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadSettings, NulInsideTokenStopsTheValue)
{
    AppSettings s = readFrom(std::string("1,2,3,4,5,0,0,0,0,ab\0cd ef\n", 27));
    EXPECT_EQ(s.soundFile, "ab");
    EXPECT_EQ(s.textProgram, "ef");
}

struct PictureLinesCase {
    const char* name;
    std::string text;
    std::vector<std::string> paths;
    std::vector<std::string> names;
};

class ReadPictureLines : public testing::TestWithParam<PictureLinesCase> { };

TEST_P(ReadPictureLines, KeepsBothListsInStep)
{
    const PictureLinesCase& c = GetParam();
    AppSettings s = readFrom(c.text);
    EXPECT_EQ(picturePaths(s.pictures), c.paths);
    EXPECT_EQ(pictureNames(s.pictures), c.names);
}

const std::string kLine1 = "640,455,100,128,64,1,4,1,0,NULL NULL\n";

INSTANTIATE_TEST_SUITE_P(Vectors, ReadPictureLines, testing::Values(
    PictureLinesCase { "one", kLine1 + "/pics/dog.bmp DOG\n", { "/pics/dog.bmp" }, { "DOG" } },
    PictureLinesCase { "crlf", kLine1 + "/a.bmp A\r\n/b.bmp B\r\n", { "/a.bmp", "/b.bmp" }, { "A", "B" } },
    PictureLinesCase { "lastLineWithoutLineEndIsDropped", kLine1 + "/a.bmp A\n/b.bmp B",
                       { "/a.bmp" }, { "A" } },
    PictureLinesCase { "oneTokenAddsNothing", kLine1 + "/a.bmp\n/b.bmp B\n", { "/b.bmp" }, { "B" } },
    PictureLinesCase { "blankLinesAddNothing", kLine1 + "\n   \n/b.bmp B\n", { "/b.bmp" }, { "B" } },
    PictureLinesCase { "nameOfTwoWordsKeepsTheFirst", kLine1 + "/a.bmp my dog\n", { "/a.bmp" }, { "my" } },
    PictureLinesCase { "afterGarbledFirstLine", "1,2,x\n/a.bmp A\n", { "/a.bmp" }, { "A" } },
    // The rest of a garbled first line is read as a picture line.
    PictureLinesCase { "restOfGarbledLine", "1,2,x y\n/a.bmp A\n", { "x", "/a.bmp" }, { "y", "A" } },
    // A long line is one picture, however long, up to 64 KiB.
    PictureLinesCase { "longLineIsOnePicture",
                       kLine1 + std::string(1020, 'p') + " n" + "q r\n",
                       { std::string(1020, 'p') }, { "nq" } },
    PictureLinesCase { "lineAtTheBound", kLine1 + std::string(65536 - 2, 'p') + " n\n/b.bmp B\n",
                       { std::string(65536 - 2, 'p'), "/b.bmp" }, { "n", "B" } },
    // One byte over: skipped whole, never split into pictures.
    PictureLinesCase { "lineOverTheBoundIsSkipped", kLine1 + std::string(65536 - 1, 'p') + " n\n/b.bmp B\n",
                       { "/b.bmp" }, { "B" } },
    PictureLinesCase { "hugeLineOfManyWordsIsSkipped", kLine1 + "/a.bmp A\n" + [] {
                           std::string words;
                           while (words.size() < 200000)
                               words += "/x.bmp X ";
                           return words;
                       }() + "\n/b.bmp B\n",
                       { "/a.bmp", "/b.bmp" }, { "A", "B" } },
    PictureLinesCase { "longLastLineWithoutLineEndIsDropped", kLine1 + "/a.bmp A\n" + std::string(5000, 'p') + " n",
                       { "/a.bmp" }, { "A" } },
    PictureLinesCase { "crlfAfterALongPath", kLine1 + std::string(3000, 'p') + " n\r\n",
                       { std::string(3000, 'p') }, { "n" } },
    // An editor's UTF-8 byte-order mark before the first line.
    PictureLinesCase { "afterAByteOrderMark", "\xEF\xBB\xBF" + kLine1 + "/a.bmp A\n", { "/a.bmp" }, { "A" } },
    // Only at the very start: elsewhere it is part of a name.
    PictureLinesCase { "byteOrderMarkInAName", kLine1 + "/a.bmp \xEF\xBB\xBF" "A\n", { "/a.bmp" }, { "\xEF\xBB\xBF" "A" } },
    PictureLinesCase { "nulEndsTheLine", kLine1 + std::string("/a.bmp\0 A\n/b.bmp B\n", 19),
                       { "/b.bmp" }, { "B" } },
    PictureLinesCase { "escapedBlanks", kLine1 + "/my%20pics/a%25.bmp my%20dog\n",
                       { "/my pics/a%.bmp" }, { "my dog" } }),
    [](const auto& info) { return std::string(info.param.name); });

// What the program writes it reads back, every field and picture as it was:
// long paths, a file an editor saved with a byte-order mark, values outside
// the sliders' ranges.
// Every saved field of the record, to compare two records by.
auto savedFields(const AppSettings& s)
{
    return std::make_tuple(s.anchorX, s.anchorY, s.tickInterval, s.pendulumLength, int(s.swingAngle), s.alwaysOnTop,
                           s.figureIndex, s.uniformSwing, s.changePictureOnDrop, s.soundFile, s.textProgram);
}

// Each saved field alone, set to a value none of the others holds: it is
// written at its own place in the first line, and read back into itself and
// no other field.
TEST(SettingsRoundTrip, EachFieldHasItsOwnPlace)
{
    const struct {
        const char* field;
        std::function<void(AppSettings&)> set;
        const char* line;
    } cases[] = {
        { "anchorX", [](AppSettings& s) { s.anchorX = INT_MIN; }, "-2147483648,-1,100,128,64,1,0,1,0,NULL NULL\n" },
        { "anchorY", [](AppSettings& s) { s.anchorY = INT_MAX; }, "-1,2147483647,100,128,64,1,0,1,0,NULL NULL\n" },
        { "tickInterval", [](AppSettings& s) { s.tickInterval = 20; }, "-1,-1,20,128,64,1,0,1,0,NULL NULL\n" },
        { "pendulumLength", [](AppSettings& s) { s.pendulumLength = 400; }, "-1,-1,100,400,64,1,0,1,0,NULL NULL\n" },
        { "swingAngle", [](AppSettings& s) { s.swingAngle = 255; }, "-1,-1,100,128,255,1,0,1,0,NULL NULL\n" },
        { "alwaysOnTop", [](AppSettings& s) { s.alwaysOnTop = 7; }, "-1,-1,100,128,64,7,0,1,0,NULL NULL\n" },
        { "figureIndex", [](AppSettings& s) { s.figureIndex = 9; }, "-1,-1,100,128,64,1,9,1,0,NULL NULL\n" },
        { "uniformSwing", [](AppSettings& s) { s.uniformSwing = -3; }, "-1,-1,100,128,64,1,0,-3,0,NULL NULL\n" },
        { "changePictureOnDrop", [](AppSettings& s) { s.changePictureOnDrop = 5; }, "-1,-1,100,128,64,1,0,1,5,NULL NULL\n" },
        { "soundFile", [](AppSettings& s) { s.soundFile = "/a b/%20.wav"; }, "-1,-1,100,128,64,1,0,1,0,/a%20b/%2520.wav NULL\n" },
        { "textProgram", [](AppSettings& s) { s.textProgram = ""; }, "-1,-1,100,128,64,1,0,1,0,NULL %00\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        AppSettings s;
        c.set(s);
        EXPECT_EQ(settingsHeaderText(s), c.line);
        const AppSettings read = readFrom(c.line);
        EXPECT_EQ(savedFields(read), savedFields(s));
    }
}

TEST(SettingsRoundTrip, WrittenThenReadBackTheSame)
{
    struct Case {
        const char* what;
        std::vector<std::string> paths;
        int length = 128;
        int interval = 100;
        int anchorX = 300;
        bool byteOrderMark = false;
    };
    // 1109 bytes, folders of a real tree: lost to the old 1022-byte pieces.
    std::string path1109 = "/home/user";
    while (path1109.size() < 1200)
        path1109 += "/a-folder-with-a-long-name";
    path1109 = path1109.substr(0, 1105) + ".bmp";
    ASSERT_EQ(path1109.size(), 1109u);
    const Case cases[] = {
        { "a 1109-byte path", { path1109 } },
        { "a 60000-byte path between short ones", { "/a.bmp", "/" + std::string(59999 - 4, 'q') + ".bmp", "/b.bmp" } },
        { "long paths with blanks", { "/my pictures/" + std::string(2000, 'x') + " y.bmp" } },
        { "saved with a byte-order mark", { "/a.bmp", path1109 }, 128, 100, 300, true },
        { "negative length", { "/a.bmp" }, -300 },
        { "huge length and interval", {}, 5000, 100000 },
        { "zero interval, pivot far off", {}, 128, 0, -2000000000 },
    };
    for (const Case& c : cases) {
        TempDir dir("settings");
        AppSettings s;
        s.pendulumLength = c.length;
        s.tickInterval = c.interval;
        s.anchorX = c.anchorX;
        s.anchorY = 200;
        s.soundFile = "/s/" + std::string(1500, 's') + ".wav";
        for (std::size_t i = 0; i < c.paths.size(); ++i) {
            s.pictures.add(c.paths[i], "name" + std::to_string(i));
        }
        const std::string ini = dir.file("Tassio.ini");
        ASSERT_TRUE(writeSettingsFile(ini, s)) << c.what;
        if (c.byteOrderMark)
            writeBytes(ini, "\xEF\xBB\xBF" + readBytes(ini));

        AppSettings r;
        readSettingsFile(ini, r);
        EXPECT_EQ(picturePaths(r.pictures), c.paths) << c.what;
        EXPECT_EQ(pictureNames(r.pictures), pictureNames(s.pictures)) << c.what;
        EXPECT_EQ(r.pendulumLength, c.length) << c.what;
        EXPECT_EQ(r.tickInterval, c.interval) << c.what;
        EXPECT_EQ(r.anchorX, c.anchorX) << c.what;
        EXPECT_EQ(r.anchorY, 200) << c.what;
        EXPECT_EQ(r.soundFile, s.soundFile) << c.what;

        // Saved again, the file is what the program writes: the mark is gone
        // and nothing else changed.
        ASSERT_TRUE(writeSettingsFile(ini, r)) << c.what;
        const std::string again = readBytes(ini);
        ASSERT_TRUE(writeSettingsFile(ini, s)) << c.what;
        EXPECT_EQ(again, readBytes(ini)) << c.what;
    }
}

TEST(SettingsToken, EscapesRoundTrip)
{
    const std::vector<std::string> values = {
        "plain", "with blank", "tab\there", "100%", "%20 literal", "line\nend\r", "", "a\\b", "小狗 图片",
    };
    for (const std::string& v : values) {
        std::string token = encodeSettingsToken(v);
        EXPECT_EQ(token.find_first_of(" \t\r\n\v\f"), std::string::npos) << v;
        EXPECT_FALSE(token.empty());
        EXPECT_EQ(decodeSettingsToken(token), v);
    }
}

TEST(SettingsToken, UnescapedFilesReadAsBefore)
{
    // Tokens written without the escape keep every character, including '%'
    // that does not start one of the escapes and backslashes.
    for (const char* t : { "D:\\PICS\\DOG.BMP", "50%off.bmp", "%", "%2", "%41", "NULL" })
        EXPECT_EQ(decodeSettingsToken(t), t);
}

TEST(WriteSettings, WritesTheFormatExactly)
{
    TempDir dir("settings");
    AppSettings s;
    s.anchorX = 640;
    s.anchorY = 455;
    s.figureIndex = 4;
    s.swingAngle = 200;
    s.pictures.add("/pics/DOG.BMP", "DOG.BMP");
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    EXPECT_EQ(readBytes(dir.file("Tassio.ini")),
              "640,455,100,128,200,1,4,1,0,NULL NULL\n/pics/DOG.BMP DOG.BMP\n");
}

TEST(WriteSettings, RoundTripKeepsEverySavedField)
{
    TempDir dir("settings");
    AppSettings s;
    s.anchorX = -7;
    s.anchorY = 3000;
    s.tickInterval = 20;
    s.pendulumLength = 400;
    s.swingAngle = 255;
    s.alwaysOnTop = 0;
    s.figureIndex = 6;
    s.uniformSwing = 0;
    s.changePictureOnDrop = 1;
    s.soundFile = "/home/me/my sounds/ding.wav";
    s.textProgram = "/usr/bin/libre office";
    s.pictures.add("/p/a.bmp", "a");
    s.pictures.add("/p q/b.bmp", "two words");
    s.pictures.add("/r/100%.bmp", "");
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));

    AppSettings r;
    readSettingsFile(dir.file("Tassio.ini"), r);
    EXPECT_EQ(r.anchorX, -7);
    EXPECT_EQ(r.anchorY, 3000);
    EXPECT_EQ(r.tickInterval, 20);
    EXPECT_EQ(r.pendulumLength, 400);
    EXPECT_EQ(r.swingAngle, 255);
    EXPECT_EQ(r.alwaysOnTop, 0);
    EXPECT_EQ(r.figureIndex, 6);
    EXPECT_EQ(r.uniformSwing, 0);
    EXPECT_EQ(r.changePictureOnDrop, 1);
    EXPECT_EQ(r.soundFile, s.soundFile);
    EXPECT_EQ(r.textProgram, s.textProgram);
    EXPECT_EQ(picturePaths(r.pictures), picturePaths(s.pictures));
    EXPECT_EQ(pictureNames(r.pictures), pictureNames(s.pictures));
}

TEST(WriteSettings, UnwritableFolderChangesNothing)
{
    TempDir dir("settings");
    writeBytes(dir.file("Tassio.ini"), kLine1);
    const auto as = unprivileged::ids();
    ASSERT_EQ(chown(dir.path().c_str(), as.uid, as.gid), 0);
    ASSERT_EQ(chown(dir.file("Tassio.ini").c_str(), as.uid, as.gid), 0);
    ASSERT_EQ(chmod(dir.path().c_str(), 0555), 0);
    EXPECT_AS_ORDINARY_USER([&]() -> std::string {
        std::string faults;
        AppSettings s;
        s.anchorX = 1;
        if (writeSettingsFile(dir.file("Tassio.ini"), s))
            faults += "writing into a folder of mode 0555 reported success; ";
        if (readBytes(dir.file("Tassio.ini")) != kLine1)
            faults += "the file changed; ";
        // Writable again, the same write goes through: the mode refused it.
        if (chmod(dir.path().c_str(), 0755) != 0)
            return faults + "chmod 0755 failed: " + std::strerror(errno);
        if (!writeSettingsFile(dir.file("Tassio.ini"), s) || readBytes(dir.file("Tassio.ini")).rfind("1,", 0) != 0)
            faults += "the folder made writable was not written";
        return faults;
    });
    chmod(dir.path().c_str(), 0755);
}

TEST(WriteSettings, MissingFolderFailsWithoutLeftovers)
{
    AppSettings s;
    EXPECT_FALSE(writeSettingsFile("/nonexistent/dir/Tassio.ini", s));
}

TEST(SettingsLeftovers, OnlyTheWritersOwnNamesCount)
{
    const struct {
        const char* name;
        bool leftover;
    } cases[] = {
        { "Tassio.ini.tmp-Ab3xZ9", true },
        { "Tassio.ini.tmp-abcdef", true },   // the infix alone marks it
        { "Tassio.ini.k3JqP0", true },       // as earlier versions named them
        { "Tassio.ini.aB9cD8", true },
        { "Tassio.ini.QwErTy", true },
        { "Tassio.ini.backup", false },      // a user's copies read as words or numbers
        { "Tassio.ini.Backup", false },
        { "Tassio.ini.BACKUP", false },
        { "Tassio.ini.202412", false },
        { "Tassio.ini.k3JqP", false },       // five characters
        { "Tassio.ini.k3JqP0x", false },     // seven
        { "Tassio.ini.k3-qP0", false },
        { "Tassio.ini.tmp-Ab3xZ", false },
        { "Tassio.ini.tmp-Ab3xZ9.bak", false },
        { "Tassio.ini", false },
        { "Tassio.ini.lock", false },
        { "Other.ini.k3JqP0", false },
        { "xTassio.ini.k3JqP0", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(isSettingsLeftover(c.name, "Tassio.ini"), c.leftover) << c.name;
}

TEST(SettingsLeftovers, RemovedBesideTheFileAndItsTarget)
{
    TempDir dir("settings");
    ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0700), 0);
    ASSERT_EQ(::symlink("real/settings.ini", dir.file("Tassio.ini").c_str()), 0);
    const std::vector<std::string> gone = { "real/settings.ini.tmp-Ab3xZ9", "real/settings.ini.k3JqP0",
                                            "Tassio.ini.q8WnE2" };
    const std::vector<std::string> kept = { "real/settings.ini", "real/settings.ini.backup", "Tassio.ini.backup",
                                            "real/settings.ini.Zz9Yy8-link", "other.txt" };
    for (const std::string& f : gone)
        writeBytes(dir.file(f), kLine1);
    for (const std::string& f : kept)
        writeBytes(dir.file(f), kLine1);
    // Named like a leftover but not a plain file: a link and a folder stay.
    ASSERT_EQ(::symlink("other.txt", dir.file("Tassio.ini.Lk4mN7").c_str()), 0);
    ASSERT_EQ(::mkdir(dir.file("Tassio.ini.Dr5pQ1").c_str(), 0700), 0);

    EXPECT_EQ(removeSettingsLeftovers(dir.file("Tassio.ini")), 3);
    for (const std::string& f : gone)
        EXPECT_NE(::access(dir.file(f).c_str(), F_OK), 0) << f << " stayed";
    for (const std::string& f : kept)
        EXPECT_EQ(readBytes(dir.file(f)), kLine1) << f;
    struct stat st;
    EXPECT_TRUE(::lstat(dir.file("Tassio.ini.Lk4mN7").c_str(), &st) == 0 && S_ISLNK(st.st_mode));
    EXPECT_EQ(::access(dir.file("Tassio.ini.Dr5pQ1").c_str(), F_OK), 0);
    EXPECT_EQ(removeSettingsLeftovers(dir.file("Tassio.ini")), 0);
    EXPECT_EQ(removeSettingsLeftovers("/nonexistent/dir/Tassio.ini"), 0);
}

TEST(WriteSettings, LeavesNoTemporaryFilesAndReplacesTheOldFile)
{
    TempDir dir("settings");
    writeBytes(dir.file("Tassio.ini"), std::string(5000, 'x'));
    AppSettings s;
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    EXPECT_EQ(readBytes(dir.file("Tassio.ini")), "-1,-1,100,128,64,1,0,1,0,NULL NULL\n");
    std::string cmd = "test $(ls -A '" + dir.path() + "' | wc -l) -eq 1";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "temporary file left behind";
}

TEST(ReadSettings, HostileContentStaysBounded)
{
    // A huge token, binary garbage and many picture lines must neither crash
    // nor make the lists differ in length.
    std::string text = "1,2,3,4,5,6,7,8,9," + std::string(10 << 20, 'A') + " x\n";
    for (int i = 0; i < 1000; ++i)
        text += "/p" + std::to_string(i) + " n\n";
    for (int i = 0; i < 4096; ++i)
        text.push_back(static_cast<char>((i * 131) & 0xFF));
    text += "\n";
    AppSettings s = readFrom(text);
    EXPECT_EQ(s.anchorX, 1);
    EXPECT_LE(s.soundFile.size(), 64u * 1024u);
    EXPECT_EQ(s.textProgram, "x");
    EXPECT_GE(s.pictures.count(), 1000);
}

TEST(ReadSettings, FifoIsNotOpened)
{
    TempDir dir("settings");
    ASSERT_EQ(mkfifo(dir.file("Tassio.ini").c_str(), 0600), 0);
    AppSettings s;
    readSettingsFile(dir.file("Tassio.ini"), s); // must return, not block
    EXPECT_EQ(s.anchorX, -1);
}

TEST(WriteSettings, KillingTheWriterNeverLeavesAPartialFile)
{
    TempDir dir("settings");
    const std::string path = dir.file("Tassio.ini");
    AppSettings a, b;
    a.anchorX = 111;
    b.anchorX = 222;
    for (int i = 0; i < 2000; ++i) {
        a.pictures.add("/pictures/a" + std::to_string(i) + ".bmp", "a" + std::to_string(i));
        b.pictures.add("/pictures/b" + std::to_string(i) + ".bmp", "b" + std::to_string(i));
    }
    ASSERT_TRUE(writeSettingsFile(path, a));
    const std::string textA = readBytes(path);
    ASSERT_TRUE(writeSettingsFile(path, b));
    const std::string textB = readBytes(path);

    for (int round = 0; round < 30; ++round) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                writeSettingsFile(path, i % 2 ? a : b);
        }
        usleep(2000 + round * 700);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        const std::string now = readBytes(path);
        ASSERT_TRUE(now == textA || now == textB) << "round " << round << ": " << now.size() << " bytes";
    }
    // What the killed writes left beside the file goes at the next start.
    removeSettingsLeftovers(path);
    std::string cmd = "test \"$(ls -A '" + dir.path() + "')\" = Tassio.ini";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << "temporary files left after the kills";
}

namespace {

AppSettings movedTo(int x)
{
    AppSettings s;
    s.anchorX = x;
    return s;
}

const char kMovedTo7[] = "7,-1,100,128,64,1,0,1,0,NULL NULL\n";

} // namespace

// The file keeps what makes it the user's: where a link points, its mode.
TEST(WriteSettings, WritesThroughLinksAndKeepsTheMode)
{
    const struct {
        const char* what;
        const char* link;   // what Tassio.ini links to; nullptr: a plain file
        mode_t mode;        // the target's mode before the save
    } cases[] = {
        { "plain file, private", nullptr, 0600 },
        { "plain file, group-readable", nullptr, 0640 },
        { "link into another folder", "real/settings.ini", 0644 },
        { "absolute link", "ABS", 0600 },
        { "link to a link", "second-link", 0600 },
    };
    for (const auto& c : cases) {
        TempDir dir("settings");
        ASSERT_EQ(::mkdir(dir.file("real").c_str(), 0700), 0);
        const std::string ini = dir.file("Tassio.ini");
        std::string target = ini;
        if (c.link) {
            std::string link = c.link;
            if (link == "ABS")
                link = dir.file("real/abs.ini");
            if (link == "second-link") {
                ASSERT_EQ(::symlink("real/end.ini", dir.file("second-link").c_str()), 0);
                target = dir.file("real/end.ini");
            } else {
                target = link[0] == '/' ? link : dir.file(link);
            }
            ASSERT_EQ(::symlink(link.c_str(), ini.c_str()), 0);
        }
        writeBytes(target, kLine1);
        ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);

        ASSERT_TRUE(writeSettingsFile(ini, movedTo(7))) << c.what;
        EXPECT_EQ(readBytes(target), kMovedTo7) << c.what;
        EXPECT_EQ(isLink(ini), c.link != nullptr) << c.what;
        EXPECT_EQ(modeOf(target), c.mode) << c.what;
        EXPECT_EQ(linkTarget(ini), target) << c.what;
    }
}

TEST(WriteSettings, DanglingLinkCreatesItsTarget)
{
    TempDir dir("settings");
    ASSERT_EQ(::symlink("later.ini", dir.file("Tassio.ini").c_str()), 0);
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), movedTo(7)));
    EXPECT_TRUE(isLink(dir.file("Tassio.ini")));
    EXPECT_EQ(readBytes(dir.file("later.ini")), kMovedTo7);
}

// A file the user made read-only (even for root, whom permissions do not stop)
// and anything that is not a regular file are left exactly as they are.
TEST(WriteSettings, LeavesReadOnlyAndSpecialFilesAlone)
{
    {
        TempDir dir("settings");
        const std::string ini = dir.file("Tassio.ini");
        writeBytes(ini, kLine1);
        ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
        EXPECT_TRUE(isReadOnlyFile(ini));
        EXPECT_FALSE(writeSettingsFile(ini, movedTo(7)));
        EXPECT_EQ(readBytes(ini), kLine1);
        EXPECT_EQ(modeOf(ini), 0444u);
    }
    {
        TempDir dir("settings");
        const std::string ini = dir.file("Tassio.ini");
        ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
        EXPECT_FALSE(writeSettingsFile(ini, movedTo(7)));
        struct stat st;
        ASSERT_EQ(::lstat(ini.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    {
        TempDir dir("settings");
        writeBytes(dir.file("Tassio.ini"), kLine1);
        EXPECT_FALSE(isReadOnlyFile(dir.file("Tassio.ini")));
        EXPECT_FALSE(isReadOnlyFile(dir.file("missing.ini")));
    }
}

// Names are bytes: whatever a path or picture name holds (Latin-1, GBK, broken
// UTF-8) comes back from the file byte for byte.
TEST(WriteSettings, NamesSurviveAsBytes)
{
    TempDir dir("settings");
    AppSettings s;
    s.soundFile = "/m\xfasica/d\xedng.wav";                      // Latin-1
    s.textProgram = "/opt/\xce\xc4\xd7\xd6/edit";                    // GBK
    s.pictures.add("/p/caf\xe9 \xff\xfe.bmp", "\xd0\xa1\xb9\xb7");                     // GBK "little dog"
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    AppSettings r;
    readSettingsFile(dir.file("Tassio.ini"), r);
    EXPECT_EQ(r.soundFile, s.soundFile);
    EXPECT_EQ(r.textProgram, s.textProgram);
    EXPECT_EQ(picturePaths(r.pictures), picturePaths(s.pictures));
    EXPECT_EQ(pictureNames(r.pictures), pictureNames(s.pictures));
}
