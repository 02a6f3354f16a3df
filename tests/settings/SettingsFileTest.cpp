#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"

#include <gtest/gtest.h>

#include "Unprivileged.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <csignal>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/tassio-settings-XXXXXX";
        path_ = mkdtemp(tmpl);
    }
    ~TempDir()
    {
        std::string cmd = "chmod -R u+w '" + path_ + "' && rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << path_;
    }
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

AppSettings readFrom(const std::string& bytes)
{
    TempDir dir;
    writeBytes(dir.file("Tassio.ini"), bytes);
    AppSettings s;
    readSettingsFile(dir.file("Tassio.ini"), s);
    return s;
}

std::vector<std::string> items(const StringList& list)
{
    return { list.begin(), list.end() };
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

TEST(StringList, AppendAtRemoveKeepOrder)
{
    StringList l;
    for (const char* s : { "a", "b", "c", "d" })
        l.append(s);
    l.removeAt(1);
    l.removeAt(7);  // ignored
    l.removeAt(-1); // ignored
    EXPECT_EQ(items(l), (std::vector<std::string> { "a", "c", "d" }));
    EXPECT_EQ(l.count(), 3);
    EXPECT_EQ(l.at(2), "d");
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
    EXPECT_EQ(s.swingStep, 2) << "the step is never read";
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
    FirstLineCase { "empty", "", -1, -1, 100, 128, 64, 1, 0, 1, 0, "NULL", "NULL" }),
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
    EXPECT_EQ(items(s.picturePaths), c.paths);
    EXPECT_EQ(items(s.pictureNames), c.names);
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
    // Long lines are read in pieces of 1022 characters, each taken as a line.
    PictureLinesCase { "longLineInPieces",
                       kLine1 + std::string(1020, 'p') + " n" + "q r\n",
                       { std::string(1020, 'p'), "q" }, { "n", "r" } },
    PictureLinesCase { "nulEndsTheLine", kLine1 + std::string("/a.bmp\0 A\n/b.bmp B\n", 19),
                       { "/b.bmp" }, { "B" } },
    PictureLinesCase { "escapedBlanks", kLine1 + "/my%20pics/a%25.bmp my%20dog\n",
                       { "/my pics/a%.bmp" }, { "my dog" } }),
    [](const auto& info) { return std::string(info.param.name); });

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
    TempDir dir;
    AppSettings s;
    s.anchorX = 640;
    s.anchorY = 455;
    s.figureIndex = 4;
    s.swingAngle = 200;
    s.picturePaths.append("/pics/DOG.BMP");
    s.pictureNames.append("DOG.BMP");
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    EXPECT_EQ(readBytes(dir.file("Tassio.ini")),
              "640,455,100,128,200,1,4,1,0,NULL NULL\n/pics/DOG.BMP DOG.BMP\n");
}

TEST(WriteSettings, RoundTripKeepsEverySavedField)
{
    TempDir dir;
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
    for (const char* p : { "/p/a.bmp", "/p q/b.bmp", "/r/100%.bmp" })
        s.picturePaths.append(p);
    for (const char* n : { "a", "two words", "" })
        s.pictureNames.append(n);
    s.swingStep = -9;
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
    EXPECT_EQ(items(r.picturePaths), items(s.picturePaths));
    EXPECT_EQ(items(r.pictureNames), items(s.pictureNames));
    EXPECT_EQ(r.swingStep, 2) << "the step is not saved";
}

TEST(WriteSettings, UnwritableFolderChangesNothing)
{
    TempDir dir;
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

TEST(WriteSettings, LeavesNoTemporaryFilesAndReplacesTheOldFile)
{
    TempDir dir;
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
    EXPECT_GE(s.picturePaths.count(), 1000);
    EXPECT_EQ(s.picturePaths.count(), s.pictureNames.count());
}

TEST(ReadSettings, FifoIsNotOpened)
{
    TempDir dir;
    ASSERT_EQ(mkfifo(dir.file("Tassio.ini").c_str(), 0600), 0);
    AppSettings s;
    readSettingsFile(dir.file("Tassio.ini"), s); // must return, not block
    EXPECT_EQ(s.anchorX, -1);
}

TEST(WriteSettings, KillingTheWriterNeverLeavesAPartialFile)
{
    TempDir dir;
    const std::string path = dir.file("Tassio.ini");
    AppSettings a, b;
    a.anchorX = 111;
    b.anchorX = 222;
    for (int i = 0; i < 2000; ++i) {
        a.picturePaths.append("/pictures/a" + std::to_string(i) + ".bmp");
        a.pictureNames.append("a" + std::to_string(i));
        b.picturePaths.append("/pictures/b" + std::to_string(i) + ".bmp");
        b.pictureNames.append("b" + std::to_string(i));
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
}

namespace {

mode_t modeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

bool isLink(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

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
        TempDir dir;
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
        EXPECT_EQ(settingsLinkTarget(ini), target) << c.what;
    }
}

TEST(WriteSettings, DanglingLinkCreatesItsTarget)
{
    TempDir dir;
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
        TempDir dir;
        const std::string ini = dir.file("Tassio.ini");
        writeBytes(ini, kLine1);
        ASSERT_EQ(::chmod(ini.c_str(), 0444), 0);
        EXPECT_TRUE(settingsFileReadOnly(ini));
        EXPECT_FALSE(writeSettingsFile(ini, movedTo(7)));
        EXPECT_EQ(readBytes(ini), kLine1);
        EXPECT_EQ(modeOf(ini), 0444u);
    }
    {
        TempDir dir;
        const std::string ini = dir.file("Tassio.ini");
        ASSERT_EQ(::mkfifo(ini.c_str(), 0600), 0);
        EXPECT_FALSE(writeSettingsFile(ini, movedTo(7)));
        struct stat st;
        ASSERT_EQ(::lstat(ini.c_str(), &st), 0);
        EXPECT_TRUE(S_ISFIFO(st.st_mode));
    }
    {
        TempDir dir;
        writeBytes(dir.file("Tassio.ini"), kLine1);
        EXPECT_FALSE(settingsFileReadOnly(dir.file("Tassio.ini")));
        EXPECT_FALSE(settingsFileReadOnly(dir.file("missing.ini")));
    }
}

// Names are bytes: whatever a path or picture name holds (Latin-1, GBK, broken
// UTF-8) comes back from the file byte for byte.
TEST(WriteSettings, NamesSurviveAsBytes)
{
    TempDir dir;
    AppSettings s;
    s.soundFile = "/m\xfasica/d\xedng.wav";                      // Latin-1
    s.textProgram = "/opt/\xce\xc4\xd7\xd6/edit";                    // GBK
    s.picturePaths.append("/p/caf\xe9 \xff\xfe.bmp");
    s.pictureNames.append("\xd0\xa1\xb9\xb7");                     // GBK "little dog"
    ASSERT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    AppSettings r;
    readSettingsFile(dir.file("Tassio.ini"), r);
    EXPECT_EQ(r.soundFile, s.soundFile);
    EXPECT_EQ(r.textProgram, s.textProgram);
    EXPECT_EQ(items(r.picturePaths), items(s.picturePaths));
    EXPECT_EQ(items(r.pictureNames), items(s.pictureNames));
}
