// The one reader of a user's file: regular files only, never a wait.
#include "files/RegularFile.h"

#include <gtest/gtest.h>

#include "TempDir.h"
#include "Unprivileged.h"

#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using testfs::TempDir;

using Status = RegularFile::Status;

TEST(RegularFile, ReadsUpToItsLimitAndTellsTheWholeSize)
{
    TempDir dir("files");
    const std::string all = std::string("hello\0world\r\n", 13) + std::string(1000, 'x');
    const std::string p = dir.write("a", all);
    const struct {
        std::size_t limit;
        bool whole;
        Status status;
        std::size_t bytes;
        bool truncated;
    } cases[] = {
        { 5000, false, Status::Read, 1013, false },
        { 1013, false, Status::Read, 1013, false },
        { 1012, false, Status::Read, 1012, true },
        { 1, false, Status::Read, 1, true },
        { 0, false, Status::Read, 0, true },
        { 1013, true, Status::Read, 1013, false },
        { 1012, true, Status::TooLarge, 0, false },
    };
    for (const auto& c : cases) {
        const RegularFile f = c.whole ? RegularFile::readWhole(p, c.limit) : RegularFile::readPrefix(p, c.limit);
        EXPECT_EQ(f.status(), c.status) << c.limit << (c.whole ? " whole" : " prefix");
        EXPECT_EQ(f.bytes(), all.substr(0, c.bytes)) << c.limit;
        EXPECT_EQ(f.truncated(), c.truncated) << c.limit;
        EXPECT_EQ(f.fileSize(), 1013u) << c.limit;
    }
    const RegularFile empty = RegularFile::readPrefix(dir.write("empty", ""), 100);
    EXPECT_TRUE(empty.ok());
    EXPECT_TRUE(empty.bytes().empty());
    EXPECT_EQ(empty.fileSize(), 0u);
}

// None of these may be waited on: a FIFO without a writer would block an
// ordinary open for ever, and reading a terminal or a device never ends.
TEST(RegularFile, RefusesAnythingButARegularFileAtOnce)
{
    TempDir dir("files");
    ASSERT_EQ(::mkfifo(dir.file("pipe.doc").c_str(), 0600), 0);
    ASSERT_EQ(::mkdir(dir.file("folder.bmp").c_str(), 0700), 0);
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr {};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = dir.file("sock.wav");
    ASSERT_LT(sockPath.size(), sizeof addr.sun_path);
    sockPath.copy(addr.sun_path, sockPath.size());
    ASSERT_EQ(::bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::symlink("pipe.doc", dir.file("link-to-pipe").c_str()), 0);
    const std::string textFile = dir.write("real.txt", "\xD0\xCF");
    ASSERT_EQ(::symlink("real.txt", dir.file("link-to-file").c_str()), 0);

    const struct {
        std::string path;
        Status status;
        int firstByte;
    } cases[] = {
        { dir.file("pipe.doc"), Status::NotRegular, -1 },
        { dir.file("link-to-pipe"), Status::NotRegular, -1 },
        { dir.file("folder.bmp"), Status::NotRegular, -1 },
        { sockPath, Status::CannotOpen, -1 }, // open refuses sockets itself
        { "/dev/zero", Status::NotRegular, -1 },
        { "/dev/null", Status::NotRegular, -1 },
        { dir.file("missing"), Status::CannotOpen, -1 },
        { "", Status::CannotOpen, -1 },
        { textFile, Status::Read, 0xD0 },
        { dir.file("link-to-file"), Status::Read, 0xD0 },
        { dir.write("empty", ""), Status::Read, -1 },
    };
    const auto start = std::chrono::steady_clock::now();
    for (const auto& c : cases) {
        EXPECT_EQ(RegularFile::readPrefix(c.path, 1 << 20).status(), c.status) << c.path;
        EXPECT_EQ(RegularFile::readWhole(c.path, 1 << 20).status(), c.status) << c.path;
        EXPECT_EQ(firstByteOf(c.path), c.firstByte) << c.path;
    }
    // A blocking open would never have come back at all; this only makes sure
    // nothing waited on a timeout either.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    ::close(sock);
}

TEST(RegularFile, UnreadableFileIsRefused)
{
    TempDir dir("files");
    const std::string p = dir.write("secret", "x");
    const auto as = unprivileged::ids();
    ASSERT_EQ(::chown(dir.file(".").c_str(), as.uid, as.gid), 0);
    ASSERT_EQ(::chown(p.c_str(), as.uid, as.gid), 0);
    ASSERT_EQ(::chmod(p.c_str(), 0), 0);
    EXPECT_AS_ORDINARY_USER([&]() -> std::string {
        std::string faults;
        if (RegularFile::readPrefix(p, 10).status() != Status::CannotOpen)
            faults += "a file of mode 0000 was not refused; ";
        if (firstByteOf(p) != -1)
            faults += "a file of mode 0000 gave a first byte; ";
        // The same file made readable is read: the refusal was the mode's.
        if (::chmod(p.c_str(), 0400) != 0)
            return faults + "chmod 0400 failed: " + std::strerror(errno);
        if (RegularFile::readPrefix(p, 10).status() != Status::Read || firstByteOf(p) != 'x')
            faults += "the file made readable was not read";
        return faults;
    });
}

} // namespace
