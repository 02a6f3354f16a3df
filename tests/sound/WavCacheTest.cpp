// The sounds the player keeps: read again exactly when the file changed.
#include "ToneWriter.h"
#include "sound/WavCache.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

class Folder {
public:
    Folder()
    {
        char tmpl[] = "/tmp/tassio-wavcache-XXXXXX";
        path_ = ::mkdtemp(tmpl);
    }
    ~Folder() { std::system(("rm -rf '" + path_ + "'").c_str()); }
    std::string tone(const std::string& name, double seconds) const
    {
        const std::string p = path_ + "/" + name;
        EXPECT_TRUE(ToneWriter::write(p, { ToneWriter::Layout::Pcm16, 1, 8000, 440, seconds, 0.5 }));
        return p;
    }
    std::string path(const std::string& name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

void setModified(const std::string& path, long seconds)
{
    const timeval times[2] = { { seconds, 0 }, { seconds, 0 } };
    ASSERT_EQ(::utimes(path.c_str(), times), 0);
}

TEST(WavCache, ReadsAFileAgainOnlyWhenItChanged)
{
    Folder folder;
    const std::string a = folder.tone("a.wav", 0.5);
    const std::string b = folder.tone("b.wav", 0.25);
    const std::string c = folder.tone("c.wav", 0.1);
    setModified(a, 1000000);
    WavCache cache(2);
    // Each step: what is loaded, after what change, and whether it is read.
    const struct {
        const char* step;
        std::function<void()> change;
        std::string path;
        bool read;
        double seconds; // of the sound returned
    } steps[] = {
        { "first time", [] {}, a, true, 0.5 },
        { "unchanged", [] {}, a, false, 0.5 },
        { "another file", [] {}, b, true, 0.25 },
        { "both kept", [] {}, a, false, 0.5 },
        { "same size, new time", [&] { setModified(a, 2000000); }, a, true, 0.5 },
        { "new size, same time", [&] { folder.tone("a.wav", 0.75); setModified(a, 2000000); }, a, true, 0.75 },
        { "the one used longest ago goes", [] {}, c, true, 0.1 },
        { "b went", [] {}, b, true, 0.25 },
        { "c stayed", [] {}, c, false, 0.1 },
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.step);
        s.change();
        const std::uint64_t before = cache.filesRead();
        const std::shared_ptr<const WavFile> sound = cache.load(s.path);
        ASSERT_NE(sound, nullptr);
        EXPECT_EQ(cache.filesRead() - before, s.read ? 1u : 0u);
        EXPECT_EQ(sound->durationUs(), std::uint64_t(s.seconds * 1e6));
    }
}

TEST(WavCache, KeepsNothingThatIsNotASound)
{
    Folder folder;
    const std::string garbage = folder.path("garbage.wav");
    FILE* f = std::fopen(garbage.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("RIFF....WAVEjunk", f);
    std::fclose(f);
    WavCache cache;
    for (const std::string& path : { garbage, folder.path("missing.wav"), folder.path(""), std::string("/dev/zero") }) {
        SCOPED_TRACE(path);
        for (int i = 0; i < 2; ++i)
            EXPECT_EQ(cache.load(path), nullptr);
        EXPECT_TRUE(cache.empty());
    }
    // A sound whose file turned bad is no longer given out.
    const std::string tone = folder.tone("turns-bad.wav", 0.1);
    ASSERT_NE(cache.load(tone), nullptr);
    f = std::fopen(tone.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("not a sound any more", f);
    std::fclose(f);
    EXPECT_EQ(cache.load(tone), nullptr);
    EXPECT_TRUE(cache.empty());
}

} // namespace
