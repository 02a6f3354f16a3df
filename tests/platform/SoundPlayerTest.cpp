// The sound player against a real PulseAudio: the test starts its own server on a null
// sink, records the sink's monitor with parecord and checks what came out.
#include "ChildProcess.h"
#include "ToneWriter.h"
#include "platform/SoundPlayer.h"
#include "sound/WavFile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <csignal>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
constexpr std::uint32_t kRecordRate = 44100;

struct Server {
    std::string dir;
    ChildProcess pulseaudio;
    std::string skipReason;
};

Server* g_server = nullptr;

std::string run(const std::string& command)
{
    std::string out;
    if (FILE* p = ::popen((command + " 2>/dev/null").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0)
            out.append(buffer, n);
        ::pclose(p);
    }
    return out;
}

bool waitFor(const std::function<bool()>& condition, milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        if (condition())
            return true;
        std::this_thread::sleep_for(milliseconds(20));
    }
    return condition();
}

class PulseEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        g_server = new Server;
        Server& s = *g_server;
        if (ChildProcess::findInPath("pulseaudio").empty() || ChildProcess::findInPath("parecord").empty() ||
            ChildProcess::findInPath("pactl").empty()) {
            s.skipReason = "pulseaudio, parecord or pactl is not installed";
            return;
        }
        char tmpl[] = "/tmp/tassio-sound-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        s.dir = tmpl;
        const std::string runtime = s.dir + "/run";
        ASSERT_EQ(::mkdir(runtime.c_str(), 0700), 0);
        // A private server: nothing of the user's session is reached or changed.
        ::setenv("HOME", s.dir.c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        ::unsetenv("DISPLAY");
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
        const std::string socket = runtime + "/pulse/native";
        ::setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);

        ASSERT_TRUE(s.pulseaudio.start({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                        "--load=module-native-protocol-unix",
                                        // Without rewinds the monitor records every sample: a rewinding null sink
                                        // drops the start of a sound that arrives while it runs ahead.
                                        "--load=module-null-sink sink_name=nul norewinds=1", "--load=module-always-sink"},
                                       s.dir + "/pulseaudio.log"));
        if (!waitFor([] { return run("pactl info").find("Default Sink: nul") != std::string::npos; },
                     milliseconds(15000)))
            s.skipReason = "pulseaudio did not come up; see " + s.dir + "/pulseaudio.log";
    }

    void TearDown() override
    {
        g_server->pulseaudio.stop();
        if (!g_server->dir.empty())
            std::system(("rm -rf '" + g_server->dir + "'").c_str());
        delete g_server;
        g_server = nullptr;
    }
};

#define REQUIRE_SERVER()                          \
    do {                                          \
        if (!g_server->skipReason.empty())        \
            GTEST_SKIP() << g_server->skipReason; \
    } while (0)

std::string tonePath(const std::string& name, const ToneWriter::Tone& tone)
{
    const std::string path = g_server->dir + "/" + name + ".wav";
    EXPECT_TRUE(ToneWriter::write(path, tone));
    return path;
}

// The null sink's current latency, from pactl; huge when unknown.
long sinkLatencyUs()
{
    const std::string sinks = run("pactl list sinks");
    const std::size_t at = sinks.find("Latency: ");
    return at == std::string::npos ? 1L << 40 : std::atol(sinks.c_str() + at + 9);
}

// parecord on the null sink's monitor, mono 16-bit.
class Recorder {
public:
    explicit Recorder(const std::string& name) : path_(g_server->dir + "/" + name + "-recorded.wav")
    {
        const std::string before = run("pactl list short source-outputs");
        ok_ = process_.start({"parecord", "--device=nul.monitor", "--file-format=wav", "--format=s16le",
                              "--rate=" + std::to_string(kRecordRate), "--channels=1", "--latency-msec=20",
                              path_});
        // Recording has begun once the server lists a new source output.
        ok_ = ok_ && waitFor([&] { return run("pactl list short source-outputs") != before; }, milliseconds(5000));
        // The idle sink runs up to 2 s ahead; a sound is only heard on time once the
        // recorder's low latency has taken over.
        ok_ = ok_ && waitFor([] { return sinkLatencyUs() < 60000; }, milliseconds(5000));
    }

    bool ok() const { return ok_; }

    // Stops recording and returns the samples, -1..1.
    std::vector<double> finish()
    {
        process_.stop(2 /* SIGINT: parecord closes the file properly */);
        std::vector<double> out;
        const std::optional<WavFile> wav = WavFile::fromFile(path_);
        if (!wav || wav->format() != WavFile::SampleFormat::S16LE || wav->channels() != 1)
            return out;
        const std::vector<std::uint8_t>& b = wav->samples();
        for (std::size_t i = 0; i + 1 < b.size(); i += 2)
            out.push_back(std::int16_t(std::uint16_t(b[i] | (b[i + 1] << 8))) / 32768.0);
        return out;
    }

private:
    std::string path_;
    ChildProcess process_;
    bool ok_ = false;
};

struct Heard {
    double start = 0, end = 0; // seconds into the recording; end == start for silence
    double seconds() const { return end - start; }
};

// The span from the first to the last sample above the threshold.
Heard loudSpan(const std::vector<double>& s, double threshold = 0.1)
{
    Heard h;
    std::size_t first = s.size(), last = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (std::fabs(s[i]) > threshold) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first < s.size()) {
        h.start = double(first) / kRecordRate;
        h.end = double(last + 1) / kRecordRate;
    }
    return h;
}

// Frequency from rising zero crossings between two times.
double frequency(const std::vector<double>& s, double from, double to)
{
    const std::size_t a = std::size_t(from * kRecordRate), b = std::min(s.size(), std::size_t(to * kRecordRate));
    std::size_t crossings = 0, firstCrossing = 0, lastCrossing = 0;
    for (std::size_t i = a + 1; i < b; ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (crossings++ == 0)
                firstCrossing = i;
            lastCrossing = i;
        }
    }
    if (crossings < 2)
        return 0;
    return double(crossings - 1) * kRecordRate / double(lastCrossing - firstCrossing);
}

double peak(const std::vector<double>& s, double from, double to)
{
    double p = 0;
    for (std::size_t i = std::size_t(from * kRecordRate); i < std::min(s.size(), std::size_t(to * kRecordRate)); ++i)
        p = std::max(p, std::fabs(s[i]));
    return p;
}

// The longest stretch inside [from, to) with no sample above the threshold.
double longestSilence(const std::vector<double>& s, double from, double to, double threshold)
{
    std::size_t run = 0, longest = 0;
    for (std::size_t i = std::size_t(from * kRecordRate); i < std::min(s.size(), std::size_t(to * kRecordRate)); ++i) {
        run = std::fabs(s[i]) > threshold ? 0 : run + 1;
        longest = std::max(longest, run);
    }
    return double(longest) / kRecordRate;
}

// One playSync of path, recorded. Where the player's threads wait for a CPU
// longer than the 0.2 s the server holds (a heavily loaded machine), the
// server underruns: a gap the program did not play. Such a recording is made
// again, at most three times; the last one is returned, gap or not.
struct Played {
    bool ok = false;
    double took = 0;
    std::vector<double> samples;
    Heard heard;
    double gap = 0;
};

Played recordPlaySync(const std::string& name, const std::string& path, double frequency)
{
    Played p;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Recorder recorder(name + "-" + std::to_string(attempt));
        if (!recorder.ok()) {
            ADD_FAILURE() << "the recorder did not start";
            return p;
        }
        const auto start = Clock::now();
        p.ok = SoundPlayer::instance().playSync(path);
        p.took = std::chrono::duration<double>(Clock::now() - start).count();
        std::this_thread::sleep_for(milliseconds(200));
        p.samples = recorder.finish();
        p.heard = loudSpan(p.samples);
        p.gap = longestSilence(p.samples, p.heard.start, p.heard.end, 0.05);
        if (p.gap < 2.5 / frequency)
            break;
        std::printf("%s: a gap of %.3f s in the recording (an underrun); recorded again\n", name.c_str(), p.gap);
    }
    return p;
}

TEST(SoundPlayer, PlaysEveryLayoutWholeAndInTune)
{
    REQUIRE_SERVER();
    using L = ToneWriter::Layout;
    const struct {
        const char* name;
        ToneWriter::Tone tone;
        bool levelKept; // false where a downmix changes the level
    } cases[] = {
        {"pcm8-mono", {L::Pcm8, 1, 44100, 440, 0.5, 0.5}, true},
        {"pcm16-stereo", {L::Pcm16, 2, 44100, 440, 0.5, 0.5}, true},
        {"pcm24-mono-48k", {L::Pcm24, 1, 48000, 660, 0.5, 0.5}, true},
        {"pcm32-stereo-22k", {L::Pcm32, 2, 22050, 330, 0.5, 0.5}, true},
        {"float32-mono", {L::Float32, 1, 44100, 440, 0.5, 0.5}, true},
        {"float64-stereo", {L::Float64, 2, 44100, 550, 0.5, 0.5}, true},
        {"extensible16-stereo", {L::Extensible16, 2, 44100, 440, 0.5, 0.5}, true},
        {"pcm16-5.1", {L::Pcm16, 6, 44100, 440, 0.5, 0.8}, false},
        {"pcm16-8000-short", {L::Pcm16, 1, 8000, 250, 0.1, 0.5}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = tonePath(c.name, c.tone);
        const Played p = recordPlaySync(c.name, path, c.tone.frequency);
        ASSERT_FALSE(p.samples.empty());
        EXPECT_TRUE(p.ok);
        // The null sink's clock may run a few ms ahead after the server has
        // waited for a CPU; returning without waiting would be far earlier.
        EXPECT_GE(p.took, c.tone.seconds - 0.01) << "playSync returned before the sound was over";
        EXPECT_LT(p.took, c.tone.seconds + 1.0);
        EXPECT_NEAR(p.heard.seconds(), c.tone.seconds, 0.03);
        EXPECT_NEAR(frequency(p.samples, p.heard.start, p.heard.end), c.tone.frequency, c.tone.frequency * 0.01);
        EXPECT_LT(p.gap, 2.5 / c.tone.frequency) << "gap in the sound";
        if (c.levelKept) {
            EXPECT_NEAR(peak(p.samples, p.heard.start, p.heard.end), c.tone.amplitude, 0.03);
        }
    }
}

TEST(SoundPlayer, NewSoundCutsOffTheOnePlaying)
{
    REQUIRE_SERVER();
    const std::string longTone = tonePath("long", {ToneWriter::Layout::Pcm16, 2, 44100, 440, 2.0, 0.5});
    const std::string shortTone = tonePath("short", {ToneWriter::Layout::Pcm16, 1, 22050, 880, 0.3, 0.5});

    // As recordPlaySync: a recording that an underrun broke is made again,
    // at most three times, and the last one is judged.
    double firstPlayed = 0;
    std::vector<double> samples;
    Heard heard;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Recorder recorder("cut-" + std::to_string(attempt));
        ASSERT_TRUE(recorder.ok());
        const auto first = Clock::now();
        ASSERT_TRUE(SoundPlayer::instance().playAsync(longTone));
        EXPECT_LT(Clock::now() - first, milliseconds(300)) << "playAsync waited for the sound";
        std::this_thread::sleep_for(milliseconds(400));
        const std::string inputs = run("pactl list sink-inputs");
        EXPECT_NE(inputs.find("application.name = \"Tassio\""), std::string::npos) << inputs;

        const auto second = Clock::now();
        ASSERT_TRUE(SoundPlayer::instance().playAsync(shortTone));
        EXPECT_LT(Clock::now() - second, milliseconds(300));
        // What the first had until the second came: 0.4 s on a quiet machine,
        // more where this thread waited for a CPU after its sleep.
        firstPlayed = std::chrono::duration<double>(second - first).count();
        std::this_thread::sleep_for(milliseconds(1000));
        samples = recorder.finish();
        heard = loudSpan(samples);
        const double gap = std::max(longestSilence(samples, heard.start, heard.start + firstPlayed - 0.1, 0.05),
                                    longestSilence(samples, heard.end - 0.25, heard.end, 0.05));
        // An underrun can also lose the first tone's start, and with it the
        // length; a player that does not cut fails every attempt alike.
        const double missing = firstPlayed + 0.3 - heard.seconds();
        if (gap < 2.5 / 440 && std::fabs(missing) <= 0.12)
            break;
        std::printf("cut: a gap of %.3f s, %.3f s missing in the recording (an underrun?); recorded again\n", gap,
                    missing);
    }
    // That much of the first, then the whole second; not the 2 s of the first.
    EXPECT_NEAR(heard.seconds(), firstPlayed + 0.3, 0.12) << "the first had " << firstPlayed << " s";
    EXPECT_NEAR(frequency(samples, heard.start + 0.05, heard.start + 0.3), 440, 5);
    EXPECT_NEAR(frequency(samples, heard.end - 0.25, heard.end), 880, 9);
    // Nothing of the first sound plays on after the second one.
    EXPECT_LT(peak(samples, heard.end + 0.01, heard.end + 0.5), 0.05);
}

TEST(SoundPlayer, SyncSoundCutsOffAnAsyncOneAndStopSilences)
{
    REQUIRE_SERVER();
    const std::string longTone = tonePath("long2", {ToneWriter::Layout::Pcm16, 1, 44100, 440, 2.0, 0.5});
    const std::string shortTone = tonePath("short2", {ToneWriter::Layout::Float32, 1, 44100, 880, 0.3, 0.5});
    {
        Recorder recorder("sync-cut");
        ASSERT_TRUE(recorder.ok());
        const auto first = Clock::now();
        ASSERT_TRUE(SoundPlayer::instance().playAsync(longTone));
        std::this_thread::sleep_for(milliseconds(300));
        const auto start = Clock::now();
        ASSERT_TRUE(SoundPlayer::instance().playSync(shortTone));
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        const double firstPlayed = std::chrono::duration<double>(start - first).count();
        EXPECT_GE(took, 0.3);
        EXPECT_LT(took, 0.3 + 0.5) << "playSync waited for the sound it cut off";
        std::this_thread::sleep_for(milliseconds(300));
        const std::vector<double> samples = recorder.finish();
        const Heard heard = loudSpan(samples);
        EXPECT_NEAR(heard.seconds(), firstPlayed + 0.3, 0.12) << "the first had " << firstPlayed << " s";
        EXPECT_NEAR(frequency(samples, heard.end - 0.25, heard.end), 880, 9);
    }
    {
        Recorder recorder("stop");
        ASSERT_TRUE(recorder.ok());
        const auto start = Clock::now();
        ASSERT_TRUE(SoundPlayer::instance().playAsync(longTone));
        std::this_thread::sleep_for(milliseconds(300));
        const auto stopped = Clock::now();
        SoundPlayer::instance().stop();
        std::this_thread::sleep_for(milliseconds(600));
        const Heard heard = loudSpan(recorder.finish());
        const double played = std::chrono::duration<double>(stopped - start).count();
        EXPECT_NEAR(heard.seconds(), played, 0.12) << "stopped after " << played << " s";
    }
}

// A file that is no playable sound is found out on the sound thread: the call
// that handed it over has returned, and nothing is heard.
TEST(SoundPlayer, RefusesFilesItCannotPlay)
{
    REQUIRE_SERVER();
    const std::string garbage = g_server->dir + "/garbage.wav";
    FILE* f = std::fopen(garbage.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fputs("RIFF....WAVEjunk", f);
    std::fclose(f);
    Recorder recorder("refused");
    ASSERT_TRUE(recorder.ok());
    for (const std::string& path : {garbage, g_server->dir + "/missing.wav", g_server->dir, std::string()}) {
        SCOPED_TRACE(path);
        EXPECT_TRUE(SoundPlayer::instance().playAsync(path)) << "handed over";
        const auto start = Clock::now();
        EXPECT_FALSE(SoundPlayer::instance().playSync(path));
        EXPECT_LT(Clock::now() - start, milliseconds(300)) << "waited for a sound that cannot play";
    }
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_LT(peak(recorder.finish(), 0, 1e9), 0.01) << "something was heard";
    // A bad file does not mark the server missing: good sounds still play.
    EXPECT_TRUE(SoundPlayer::instance().playSync(tonePath("after-bad", {ToneWriter::Layout::Pcm16, 1, 44100, 440, 0.05, 0.5})));
}

// The drop sound plays once for every dropped file: it is read once while its
// file stays the same, and again once the file has changed.
TEST(SoundPlayer, ReadsASoundAgainOnlyWhenItsFileChanged)
{
    REQUIRE_SERVER();
    const std::string path = tonePath("again", {ToneWriter::Layout::Pcm16, 1, 44100, 440, 0.05, 0.5});
    const std::uint64_t before = SoundPlayer::instance().filesRead();
    for (int i = 0; i < 5; ++i)
        ASSERT_TRUE(SoundPlayer::instance().playSync(path));
    EXPECT_EQ(SoundPlayer::instance().filesRead() - before, 1u);
    // Written again, a little longer: the new file plays, whole.
    tonePath("again", {ToneWriter::Layout::Pcm16, 1, 44100, 660, 0.3, 0.5});
    Recorder recorder("again");
    ASSERT_TRUE(recorder.ok());
    ASSERT_TRUE(SoundPlayer::instance().playSync(path));
    std::this_thread::sleep_for(milliseconds(200));
    EXPECT_EQ(SoundPlayer::instance().filesRead() - before, 2u);
    const std::vector<double> samples = recorder.finish();
    const Heard heard = loudSpan(samples);
    EXPECT_NEAR(heard.seconds(), 0.3, 0.03);
    EXPECT_NEAR(frequency(samples, heard.start, heard.end), 660, 7);
}

// How long the recording is loud, in all.
double loudSeconds(const std::vector<double>& s, double threshold = 0.1)
{
    std::size_t n = 0;
    for (double v : s)
        n += std::fabs(v) > threshold;
    return double(n) / kRecordRate;
}

// A stopped server (kill -STOP: what a hung or suspended one looks like) holds no
// caller up, whether it stops before a sound or in the middle of one. Sounds asked
// for while it is stopped are dropped, not played late, and the player works again
// once it runs.
TEST(SoundPlayer, StoppedServerHoldsNoCallerUp)
{
    REQUIRE_SERVER();
    const std::string longTone = tonePath("stopped-long", {ToneWriter::Layout::Pcm16, 1, 44100, 440, 2.0, 0.5});
    const std::string tone = tonePath("stopped-short", {ToneWriter::Layout::Pcm16, 1, 44100, 880, 0.6, 0.5});
    const pid_t server = g_server->pulseaudio.pid();
    const struct {
        const char* name;
        bool duringSound;
        double maxLoud; // seconds heard in all: before the stop, and what the server held
    } cases[] = {
        {"stopped before the sound", false, 0.01},
        {"stopped during a sound", true, 0.3 + 0.25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Recorder recorder(std::string("stopped-") + (c.duringSound ? "during" : "before"));
        ASSERT_TRUE(recorder.ok());
        if (c.duringSound) {
            ASSERT_TRUE(SoundPlayer::instance().playAsync(longTone));
            std::this_thread::sleep_for(milliseconds(300));
        }
        ASSERT_EQ(::kill(server, SIGSTOP), 0);
        auto start = Clock::now();
        EXPECT_TRUE(SoundPlayer::instance().playAsync(tone));
        EXPECT_LT(Clock::now() - start, milliseconds(50)) << "playAsync waited for the server";
        start = Clock::now();
        EXPECT_FALSE(SoundPlayer::instance().playSync(tone));
        const double took = std::chrono::duration<double>(Clock::now() - start).count();
        EXPECT_LT(took, 0.6 + 0.5 + 0.1) << "playSync waited past the sound's length and the grace";
        start = Clock::now();
        SoundPlayer::instance().stop();
        EXPECT_LT(Clock::now() - start, milliseconds(50)) << "stop waited for the server";
        // Long enough that whatever was asked for is too late when the server wakes.
        std::this_thread::sleep_for(SoundPlayer::startLimit);
        ASSERT_EQ(::kill(server, SIGCONT), 0);
        std::this_thread::sleep_for(milliseconds(1500));
        EXPECT_LT(loudSeconds(recorder.finish()), c.maxLoud) << "a sound asked for while stopped played late";

        const Played after =
            recordPlaySync(std::string("stopped-after-") + (c.duringSound ? "during" : "before"), tone, 880);
        EXPECT_TRUE(after.ok) << "no sound once the server runs again";
        EXPECT_NEAR(after.heard.seconds(), 0.6, 0.03);
    }
}

// Last: shutdown is for good.
TEST(SoundPlayerZShutdown, StopsPlaybackAtOnceAndRefusesLaterSounds)
{
    REQUIRE_SERVER();
    const std::string longTone = tonePath("long3", {ToneWriter::Layout::Pcm16, 1, 44100, 440, 3.0, 0.5});
    ASSERT_TRUE(SoundPlayer::instance().playAsync(longTone));
    std::this_thread::sleep_for(milliseconds(200));
    const auto start = Clock::now();
    SoundPlayer::instance().shutdown();
    EXPECT_LT(Clock::now() - start, milliseconds(500));
    EXPECT_TRUE(waitFor([] { return run("pactl list short sink-inputs").empty(); }, milliseconds(2000)))
        << "the stream outlived shutdown";
    EXPECT_FALSE(SoundPlayer::instance().playAsync(longTone));
    EXPECT_FALSE(SoundPlayer::instance().playSync(longTone));
    SoundPlayer::instance().shutdown(); // twice is harmless
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new PulseEnvironment);
    return RUN_ALL_TESTS();
}
