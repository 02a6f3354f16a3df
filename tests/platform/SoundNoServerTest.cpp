// With no sound server every request fails quickly and quietly. Needs nothing running:
// the server address points at a socket that does not exist.
#include "ToneWriter.h"
#include "platform/SoundPlayer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

TEST(SoundPlayerWithoutServer, FailsFastAndKeepsFailingFast)
{
    char tmpl[] = "/tmp/tassio-nosound-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    ::setenv("PULSE_SERVER", ("unix:" + dir + "/no-such-socket").c_str(), 1);
    ::setenv("HOME", dir.c_str(), 1);
    const std::string path = dir + "/tone.wav";
    ASSERT_TRUE(ToneWriter::write(path, {ToneWriter::Layout::Pcm16, 1, 44100, 440, 0.5, 0.5}));

    SoundPlayer& player = SoundPlayer::instance();
    // The first sound is only queued: the sound thread finds out that no server is there.
    auto start = Clock::now();
    player.playAsync(path);
    EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(100));

    start = Clock::now();
    EXPECT_FALSE(player.playSync(path));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    // 200 dropped files in a row must not add up to a stall.
    start = Clock::now();
    for (int i = 0; i < 200; ++i)
        ASSERT_FALSE(i % 2 ? player.playSync(path) : player.playAsync(path));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));

    player.shutdown();
    std::system(("rm -rf '" + dir + "'").c_str());
}

} // namespace
