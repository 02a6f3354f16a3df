// The atomic replace of a file: old bytes or new, never a mix; links written
// through; the user's mode kept; read-only and special files left alone.
#include "files/ReplaceFile.h"

#include <gtest/gtest.h>

#include "TempDir.h"

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace testfs;

TEST(ReplaceFile, ReplacesTheWholeFileAndLeavesNothingBeside)
{
    TempDir dir("replace");
    const std::string file = dir.file("data");
    writeBytes(file, std::string(5000, 'x'));
    ASSERT_TRUE(replaceFile(file, "short"));
    EXPECT_EQ(readBytes(file), "short");
    ASSERT_TRUE(replaceFile(file, ""));
    EXPECT_EQ(readBytes(file), "");
    const std::string binary("a\0b\xff\n", 5);
    ASSERT_TRUE(replaceFile(file, binary));
    EXPECT_EQ(readBytes(file), binary);
    EXPECT_EQ(dir.listing(), "data\n");
}

TEST(ReplaceFile, NewFileTakesTheUmask)
{
    TempDir dir("replace");
    const mode_t before = ::umask(027);
    const bool ok = replaceFile(dir.file("new"), "n");
    ::umask(before);
    ASSERT_TRUE(ok);
    EXPECT_EQ(readBytes(dir.file("new")), "n");
    EXPECT_EQ(modeOf(dir.file("new")), 0640u);
}

// The file keeps what makes it the user's: where a link points, its mode.
TEST(ReplaceFile, WritesThroughLinksAndKeepsTheMode)
{
    const struct {
        const char* what;
        const char* link;   // what "file" links to; nullptr: a plain file
        const char* target; // where the bytes must land
        mode_t mode;        // the target's mode before the replace
    } cases[] = {
        { "plain file, private", nullptr, "file", 0600 },
        { "plain file, group-readable", nullptr, "file", 0640 },
        { "relative link into a folder", "sub/real", "sub/real", 0644 },
        { "absolute link", "ABS", "sub/abs", 0600 },
        { "link to a link", "second", "sub/end", 0604 },
    };
    for (const auto& c : cases) {
        TempDir dir("replace");
        ASSERT_EQ(::mkdir(dir.file("sub").c_str(), 0700), 0);
        const std::string file = dir.file("file");
        if (c.link) {
            std::string link = c.link;
            if (link == "ABS")
                link = dir.file("sub/abs");
            if (link == "second") {
                ASSERT_EQ(::symlink("sub/end", dir.file("second").c_str()), 0);
            }
            ASSERT_EQ(::symlink(link.c_str(), file.c_str()), 0);
        }
        const std::string target = dir.file(c.target);
        writeBytes(target, "old");
        ASSERT_EQ(::chmod(target.c_str(), c.mode), 0);

        EXPECT_EQ(linkTarget(file), target) << c.what;
        ASSERT_TRUE(replaceFile(file, "new")) << c.what;
        EXPECT_EQ(readBytes(target), "new") << c.what;
        EXPECT_EQ(isLink(file), c.link != nullptr) << c.what;
        EXPECT_EQ(modeOf(target), c.mode) << c.what;
    }
}

TEST(ReplaceFile, DanglingLinkCreatesItsTargetAndALinkLoopEnds)
{
    TempDir dir("replace");
    ASSERT_EQ(::symlink("later", dir.file("file").c_str()), 0);
    ASSERT_TRUE(replaceFile(dir.file("file"), "made"));
    EXPECT_TRUE(isLink(dir.file("file")));
    EXPECT_EQ(readBytes(dir.file("later")), "made");

    // Two links naming each other: the walk gives up after as many hops as
    // the system follows, on one of the two.
    ASSERT_EQ(::symlink("b", dir.file("a").c_str()), 0);
    ASSERT_EQ(::symlink("a", dir.file("b").c_str()), 0);
    const std::string end = linkTarget(dir.file("a"));
    EXPECT_TRUE(end == dir.file("a") || end == dir.file("b")) << end;
}

// A file the user made read-only (even for root, whom permissions do not stop)
// and anything that is not a regular file are left exactly as they are.
TEST(ReplaceFile, LeavesReadOnlyAndSpecialFilesAlone)
{
    TempDir dir("replace");
    const std::string readOnly = dir.file("ro");
    writeBytes(readOnly, "keep");
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_TRUE(isReadOnlyFile(readOnly));
    EXPECT_FALSE(replaceFile(readOnly, "new"));
    EXPECT_EQ(readBytes(readOnly), "keep");
    EXPECT_EQ(modeOf(readOnly), 0444u);

    const std::string fifo = dir.file("fifo");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(replaceFile(fifo, "new"));
    const std::string folder = dir.file("folder");
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0);
    EXPECT_FALSE(replaceFile(folder, "new"));
    struct stat st;
    ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat(folder.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));

    writeBytes(dir.file("rw"), "w");
    EXPECT_FALSE(isReadOnlyFile(dir.file("rw")));
    EXPECT_FALSE(isReadOnlyFile(dir.file("missing")));
    EXPECT_FALSE(replaceFile(dir.file("missing-folder/file"), "new"));
    // Nothing else appeared: no temporary file from the refused writes.
    EXPECT_EQ(dir.listing(), "fifo\nfolder\nro\nrw\n");
}

TEST(ReplaceFile, KillingTheWriterNeverLeavesAPartialFile)
{
    TempDir dir("replace");
    const std::string file = dir.file("data");
    // Large enough that a write takes several system calls.
    const std::string a(300 * 1024, 'a'), b(200 * 1024, 'b');
    ASSERT_TRUE(replaceFile(file, a));
    for (int round = 0; round < 20; ++round) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int i = 0;; ++i)
                replaceFile(file, i % 2 ? a : b);
        }
        ::usleep(2000 + round * 700);
        ::kill(child, SIGKILL);
        int status = 0;
        ::waitpid(child, &status, 0);
        const std::string now = readBytes(file);
        ASSERT_TRUE(now == a || now == b) << "round " << round << ": " << now.size() << " bytes";
    }
}

TEST(ReplaceFile, OnlyItsOwnTemporaryNamesCount)
{
    const struct {
        const char* fileName;
        bool temporary;
    } cases[] = {
        { "data.tmp-Ab3xZ9", true },
        { "data.tmp-abcdef", true },
        { "data.tmp-123456", true },
        { "data.tmp-Ab3xZ", false },   // five characters
        { "data.tmp-Ab3xZ9x", false }, // seven
        { "data.tmp-Ab3-Z9", false },
        { "data.tmp-Ab3xZ9.bak", false },
        { "data.k3JqP0", false }, // no infix
        { "data", false },
        { "xdata.tmp-Ab3xZ9", false },
        { "other.tmp-Ab3xZ9", false },
        { "dat.tmp-Ab3xZ9", false },
    };
    for (const auto& c : cases)
        EXPECT_EQ(isReplaceTemporary(c.fileName, "data"), c.temporary) << c.fileName;
}
