// The settings as last published by the GUI thread, written by whichever
// thread ends the run: always the text the settings file would get, never a
// mix of two publishes, and written once.
#include "settings/AppSettings.h"
#include "settings/SettingsFile.h"
#include "settings/SettingsSnapshot.h"

#include <gtest/gtest.h>

#include "TempDir.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using testfs::TempDir;
using testfs::readBytes;

// What writeSettingsFile puts in the file.
std::string fileText(const AppSettings& s)
{
    TempDir dir("snapshot");
    EXPECT_TRUE(writeSettingsFile(dir.file("Tassio.ini"), s));
    return readBytes(dir.file("Tassio.ini"));
}

TEST(UserPictures, RevisionChangesWithTheContent)
{
    UserPictures a;
    UserPictures b;
    EXPECT_NE(a.revision(), b.revision()) << "two lists";
    const UserPictures copy = a;
    EXPECT_EQ(copy.revision(), a.revision()) << "a copy has the same content";
    const struct {
        const char* change;
        std::function<void(UserPictures&)> apply;
        bool changes;
    } steps[] = {
        { "add", [](UserPictures& l) { l.add("/x.bmp", "x"); }, true },
        { "add again", [](UserPictures& l) { l.add("/y.bmp", "y"); }, true },
        { "remove", [](UserPictures& l) { l.removeAt(0); }, true },
        { "remove out of range", [](UserPictures& l) { l.removeAt(5); }, false },
        { "clear", [](UserPictures& l) { l.clear(); }, true },
        { "assign another", [&b](UserPictures& l) { l = b; }, true },
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.change);
        const std::uint64_t before = a.revision();
        s.apply(a);
        EXPECT_EQ(a.revision() != before, s.changes);
    }
    UserPictures moved;
    moved.add("/m.bmp", "m");
    const std::uint64_t was = moved.revision();
    UserPictures taken = std::move(moved);
    EXPECT_EQ(taken.revision(), was);
    EXPECT_NE(moved.revision(), was) << "what is left behind is another list";
}

TEST(SettingsSnapshot, HoldsWhatTheFileWouldAfterEveryKindOfChange)
{
    AppSettings s;
    SettingsSnapshot snapshot;
    EXPECT_EQ(snapshot.text(), "");
    const struct {
        const char* change;
        std::function<void()> apply;
    } steps[] = {
        { "the defaults", [] {} },
        { "a dragged pivot", [&] { s.anchorX = 552; s.anchorY = 324; } },
        { "a tick", [&] { s.swingAngle = 71; } },
        { "a picture dropped", [&] { s.pictures.add("/p/dog 1.bmp", "dog 1.bmp"); s.figureIndex = 4; } },
        { "a sound chosen", [&] { s.soundFile = "/s/a b.wav"; } },
        { "only a name changed", [&] { s.pictures.clear(); s.pictures.add("/p/dog 1.bmp", "rex"); } },
        { "a picture deleted", [&] { s.pictures.removeAt(0); s.figureIndex = 0; } },
        { "list replaced by a copy", [&] { AppSettings other; other.pictures.add("/q.bmp", "q"); s.pictures = other.pictures; } },
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.change);
        step.apply();
        snapshot.publish(s);
        EXPECT_EQ(snapshot.text(), fileText(s));
    }
}

TEST(SettingsSnapshot, WritesOnceWhoeverAsksAndTellsOfAFailure)
{
    TempDir dir("snapshot");
    AppSettings s;
    SettingsSnapshot snapshot;
    const std::string path = dir.file("sub/Tassio.ini");
    int failures = 0;
    // Nothing published yet: nothing is known to save, and nothing is written.
    {
        SettingsSnapshot empty;
        EXPECT_FALSE(empty.saveOnce(path, [&] { ++failures; }));
        EXPECT_EQ(failures, 1);
        EXPECT_FALSE(std::ifstream(path).good());
    }
    s.anchorX = 10;
    snapshot.publish(s);
    // Two threads at once: one write, the same answer for both.
    std::atomic<int> saved { 0 };
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&] { saved += snapshot.saveOnce(path, [&] { ++failures; }) ? 1 : 0; });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(saved, 4);
    EXPECT_TRUE(snapshot.saved());
    const std::string written = readBytes(path);
    EXPECT_EQ(written, fileText(s));
    // Later changes are not written again: the run's one write is done.
    s.anchorX = 20;
    snapshot.publish(s);
    EXPECT_TRUE(snapshot.saveOnce(path));
    EXPECT_EQ(readBytes(path), written);

    // A folder that cannot be made: false, every time, and told once.
    const std::string blocker = dir.file("file");
    std::ofstream(blocker) << "x";
    SettingsSnapshot failing;
    failing.publish(s);
    EXPECT_FALSE(failing.saveOnce(blocker + "/Tassio.ini", [&] { ++failures; }));
    EXPECT_FALSE(failing.saveOnce(blocker + "/Tassio.ini", [&] { ++failures; }));
    EXPECT_EQ(failures, 2);
}

// One thread publishes as the GUI thread does, another reads as the session's
// end does: every text read is one that was published, header and pictures
// together.
TEST(SettingsSnapshot, AReaderNeverSeesHalfAPublish)
{
    AppSettings s;
    s.anchorX = 0;
    SettingsSnapshot snapshot;
    snapshot.publish(s);
    std::atomic<bool> done { false };
    std::atomic<int> torn { 0 };
    std::atomic<int> reads { 0 };
    std::thread reader([&] {
        while (!done) {
            const std::string text = snapshot.text();
            // anchorX is the number of pictures at each publish.
            const int pictures = std::atoi(text.c_str());
            int lines = -1;
            for (char c : text)
                lines += c == '\n';
            if (lines != pictures)
                ++torn;
            ++reads;
        }
    });
    for (int i = 1; i <= 3000; ++i) {
        s.pictures.add("/p/" + std::to_string(i) + ".bmp", std::to_string(i));
        s.anchorX = i;
        snapshot.publish(s);
        s.swingAngle = static_cast<uint8_t>(i);
        snapshot.publish(s);
    }
    while (reads < 100)
        std::this_thread::yield();
    done = true;
    reader.join();
    EXPECT_EQ(torn, 0);
    EXPECT_EQ(snapshot.text(), fileText(s));
}

} // namespace
