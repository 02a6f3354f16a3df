// The sound thread's cut-offs and deadlines, against a sink that plays in real time
// inside the test: it can refuse, hang, report a latency that never falls, and it
// records what reached it. The limits are shortened, so each case takes milliseconds.
#include "ToneWriter.h"
#include "platform/NullSoundSink.h"
#include "platform/SoundPlayer.h"
#include "platform/SoundSink.h"
#include "sound/SampleConverter.h"
#include "sound/WavFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <future>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::microseconds;
using std::chrono::milliseconds;

// What one stream received, and when.
struct StreamLog {
    std::uint32_t rate = 0;
    unsigned channels = 0;
    std::vector<std::uint8_t> bytes;
    std::size_t writes = 0;
    std::size_t largestWrite = 0;
    int flushes = 0;
    bool drained = false;
    bool closed = false;
    Clock::time_point opened, lastWrite, drainedAt, closedAt;
};

// The server behind the fake sink, shared by the test and the sound thread.
struct FakeServer {
    // How it behaves.
    bool libraryMissing = false;
    std::optional<SoundSink::Failure> refuse;
    milliseconds openTakes{0};
    bool writeHangs = false;
    bool writeFails = false;
    std::optional<microseconds> stuckLatency; // reported while samples are queued, however long they wait
    std::size_t stuckStreams = 1000;          // by the streams opened first, this many
    microseconds outputLatency{0};            // reported once drained
    microseconds buffer{200000};              // a write waits while more than this is queued

    // What happened.
    int loads = 0;
    int opens = 0;
    std::vector<StreamLog> streams;

    std::mutex mutex;
    std::condition_variable changed;
    bool released = false; // ends every hang

    // Waits, as a hung server would, until released; a test that forgets to
    // release fails here rather than hanging.
    void hang(std::unique_lock<std::mutex>& lock)
    {
        if (!changed.wait_for(lock, std::chrono::seconds(10), [&] { return released; }))
            ADD_FAILURE() << "the fake server was never released";
    }

    void release()
    {
        std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    }

    // Waits until the condition on the server's record holds.
    bool waitFor(const std::function<bool()>& condition, milliseconds timeout = milliseconds(5000))
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, condition);
    }
};

class FakeStream : public SoundStream {
public:
    FakeStream(std::shared_ptr<FakeServer> server, std::size_t index, double bytesPerSecond)
        : server_(std::move(server)), index_(index), bytesPerSecond_(bytesPerSecond)
    {
    }

    ~FakeStream() override
    {
        std::lock_guard<std::mutex> lock(server_->mutex);
        log().closed = true;
        log().closedAt = Clock::now();
        server_->changed.notify_all();
    }

    bool write(const std::uint8_t* data, std::size_t size) override
    {
        std::unique_lock<std::mutex> lock(server_->mutex);
        if (server_->writeHangs)
            server_->hang(lock);
        if (server_->writeFails)
            return false;
        // Real time: a full buffer is played out before more is taken.
        const Clock::time_point room = heardAt_ - server_->buffer;
        if (room > Clock::now())
            server_->changed.wait_until(lock, room, [&] { return server_->released; });
        StreamLog& l = log();
        l.bytes.insert(l.bytes.end(), data, data + size);
        ++l.writes;
        l.largestWrite = std::max(l.largestWrite, size);
        l.lastWrite = Clock::now();
        heardAt_ = std::max(heardAt_, Clock::now())
            + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(size / bytesPerSecond_));
        server_->changed.notify_all();
        return true;
    }

    std::optional<microseconds> latency() override
    {
        std::lock_guard<std::mutex> lock(server_->mutex);
        if (log().drained)
            return server_->outputLatency;
        if (server_->stuckLatency && index_ < server_->stuckStreams)
            return server_->stuckLatency;
        return std::max(microseconds(0), std::chrono::duration_cast<microseconds>(heardAt_ - Clock::now()));
    }

    bool drain() override
    {
        std::unique_lock<std::mutex> lock(server_->mutex);
        server_->changed.wait_until(lock, heardAt_, [&] { return server_->released; });
        log().drained = true;
        log().drainedAt = Clock::now();
        server_->changed.notify_all();
        return true;
    }

    void flush() override
    {
        std::lock_guard<std::mutex> lock(server_->mutex);
        ++log().flushes;
        heardAt_ = Clock::now();
        server_->changed.notify_all();
    }

private:
    StreamLog& log() { return server_->streams[index_]; }

    std::shared_ptr<FakeServer> server_;
    std::size_t index_;
    double bytesPerSecond_;
    Clock::time_point heardAt_ = Clock::now(); // when the last byte written will have been heard
};

class FakeSink : public SoundSink {
public:
    explicit FakeSink(std::shared_ptr<FakeServer> server) : server_(std::move(server)) {}

    bool load() override
    {
        std::lock_guard<std::mutex> lock(server_->mutex);
        ++server_->loads;
        return !server_->libraryMissing;
    }

    std::unique_ptr<SoundStream> open(const WavFile& sound, Failure& why) override
    {
        std::unique_lock<std::mutex> lock(server_->mutex);
        ++server_->opens;
        server_->changed.notify_all();
        if (server_->openTakes.count() > 0)
            server_->changed.wait_for(lock, server_->openTakes, [&] { return server_->released; });
        if (server_->refuse) {
            why = *server_->refuse;
            return nullptr;
        }
        StreamLog log;
        log.rate = sound.rate();
        log.channels = sound.channels();
        log.opened = Clock::now();
        server_->streams.push_back(log);
        const double bytesPerSecond = double(sound.rate()) * sound.channels()
            * WavFile::bytesPerSample(SampleConverter::outputFormat(sound.format()));
        return std::make_unique<FakeStream>(server_, server_->streams.size() - 1, bytesPerSecond);
    }

private:
    std::shared_ptr<FakeServer> server_;
};

double seconds(Clock::duration d)
{
    return std::chrono::duration<double>(d).count();
}

// A player on a fresh fake server, with sound files in a folder of its own.
class SoundTiming : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/tassio-soundtiming-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
    }

    void TearDown() override
    {
        if (server)
            server->release();
        player.reset();
        std::system(("rm -rf '" + dir_ + "'").c_str());
    }

    SoundPlayer& start(const SoundPlayer::Limits& limits = SoundPlayer::Limits())
    {
        server = std::make_shared<FakeServer>();
        player = std::make_unique<SoundPlayer>(std::make_unique<FakeSink>(server), limits);
        return *player;
    }

    std::string tone(const std::string& name, double seconds, ToneWriter::Layout layout = ToneWriter::Layout::Pcm16,
                     unsigned channels = 1, std::uint32_t rate = 8000)
    {
        const std::string path = dir_ + "/" + name + ".wav";
        EXPECT_TRUE(ToneWriter::write(path, {layout, channels, rate, 440, seconds, 0.5}));
        return path;
    }

    // Locked access to the record.
    template <typename F>
    auto record(F f)
    {
        std::lock_guard<std::mutex> lock(server->mutex);
        return f(*server);
    }

    std::size_t streamCount()
    {
        return record([](FakeServer& s) { return s.streams.size(); });
    }

    StreamLog stream(std::size_t i)
    {
        return record([&](FakeServer& s) { return i < s.streams.size() ? s.streams[i] : StreamLog(); });
    }

    std::shared_ptr<FakeServer> server;
    std::unique_ptr<SoundPlayer> player;
    std::string dir_;
};

// Every sample reaches the sink, in order, widened where the server would pad with
// clicks, in chunks the thread can cut between; playSync returns once it was heard.
TEST_F(SoundTiming, PlaysEachLayoutWholeAndReturnsOnceHeard)
{
    using L = ToneWriter::Layout;
    const struct {
        const char* name;
        L layout;
        unsigned channels;
        std::uint32_t rate;
    } cases[] = {
        {"pcm8-mono", L::Pcm8, 1, 8000},
        {"pcm16-stereo", L::Pcm16, 2, 22050},
        {"pcm24-mono", L::Pcm24, 1, 48000},
        {"float64-stereo", L::Float64, 2, 11025},
    };
    SoundPlayer& p = start();
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        const double length = 0.08;
        const std::string path = tone(c.name, length, c.layout, c.channels, c.rate);
        const std::optional<WavFile> wav = WavFile::fromFile(path);
        ASSERT_TRUE(wav);
        std::vector<std::uint8_t> expected = wav->samples();
        if (SampleConverter::widens(wav->format())) {
            expected.resize(2 * wav->samples().size());
            SampleConverter::toS16LE(wav->format(), wav->samples().data(), wav->samples().size(), expected.data());
        }

        const Clock::time_point before = Clock::now();
        EXPECT_TRUE(p.playSync(path));
        const double took = seconds(Clock::now() - before);
        const StreamLog s = stream(i);
        EXPECT_EQ(s.rate, c.rate);
        EXPECT_EQ(s.channels, c.channels);
        EXPECT_TRUE(s.bytes == expected) << s.bytes.size() << " bytes written of " << expected.size();
        EXPECT_GT(s.writes, 1u) << "written in one piece: nothing to cut between";
        const std::size_t chunkBytes = expected.size() / wav->frameCount() * (c.rate * SoundSink::chunkMs / 1000);
        EXPECT_LE(s.largestWrite, chunkBytes);
        EXPECT_TRUE(s.drained);
        EXPECT_TRUE(s.closed) << "playSync returned before the stream was closed";
        EXPECT_EQ(s.flushes, 0);
        EXPECT_GE(took, length - 0.005) << "returned before the sound was heard";
        EXPECT_LT(took, length + 2.0);
    }
}

// A newer sound or stop() cuts off the one playing at the next chunk, and the queue
// is flushed: nothing of it plays on, whether it was still being written or only its
// tail was queued in the server.
TEST_F(SoundTiming, NewerSoundOrStopCutsOffTheOnePlaying)
{
    const struct {
        const char* name;
        bool inTail;  // cut once every byte is written, while the server still holds the tail
        bool byStop;  // stop() rather than a newer sound
    } cases[] = {
        {"newer sound while writing", false, false},
        {"stop while writing", false, true},
        {"newer sound during the tail", true, false},
        {"stop during the tail", true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SoundPlayer& p = start();
        // A tail that never seems to play out keeps the thread waiting in it.
        if (c.inTail) {
            server->stuckLatency = std::chrono::seconds(5);
            server->stuckStreams = 1;
        }
        const std::string longTone = tone("long", c.inTail ? 0.1 : 3.0);
        const std::string shortTone = tone("short", 0.05);
        const std::size_t longBytes = WavFile::fromFile(longTone)->samples().size();

        auto first = std::async(std::launch::async, [&] { return p.playSync(longTone); });
        ASSERT_TRUE(server->waitFor([&] {
            return !server->streams.empty()
                && (c.inTail ? server->streams[0].bytes.size() == longBytes : server->streams[0].writes >= 2);
        })) << "the first sound was not written";
        const Clock::time_point cut = Clock::now();
        if (c.byStop)
            p.stop();
        else
            ASSERT_TRUE(p.playAsync(shortTone));
        ASSERT_EQ(first.wait_for(std::chrono::seconds(2)), std::future_status::ready) << "playSync was not cut short";
        EXPECT_FALSE(first.get()) << "a sound cut off reported as played";
        EXPECT_LT(seconds(Clock::now() - cut), 1.0);

        ASSERT_TRUE(server->waitFor([&] { return server->streams[0].closed; }));
        const StreamLog cutOff = stream(0);
        EXPECT_EQ(cutOff.flushes, 1);
        EXPECT_FALSE(cutOff.drained) << "the rest of the first sound was played out";
        if (!c.inTail) {
            EXPECT_LT(cutOff.bytes.size(), longBytes);
        }
        if (!c.byStop) {
            ASSERT_TRUE(server->waitFor([&] { return server->streams.size() == 2 && server->streams[1].closed; }));
            const StreamLog next = stream(1);
            EXPECT_GE(next.opened, cutOff.closedAt) << "two streams at once";
            EXPECT_EQ(next.bytes.size(), WavFile::fromFile(shortTone)->samples().size());
            EXPECT_TRUE(next.drained);
        } else {
            std::this_thread::sleep_for(milliseconds(50));
            EXPECT_EQ(streamCount(), 1u) << "something played after stop()";
        }
        server->release();
        player.reset();
    }
}

// The start limit: a sound is dropped when its stream opens too late to belong to
// what asked for it, and a sound asked for while the thread was held up by another
// is not even opened. playSync gives up on a sound not yet taken up at the limit.
TEST_F(SoundTiming, SoundsThatCannotStartInTimeAreDropped)
{
    const struct {
        const char* name;
        milliseconds openTakes;
        milliseconds startLimit;
        bool played;
    } cases[] = {
        {"opened within the limit", milliseconds(20), milliseconds(5000), true},
        {"opened past the limit", milliseconds(200), milliseconds(60), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SoundPlayer::Limits limits;
        limits.startLimit = c.startLimit;
        SoundPlayer& p = start(limits);
        server->openTakes = c.openTakes;
        const std::string path = tone("slow-open", 0.05);
        EXPECT_EQ(p.playSync(path), c.played);
        if (c.played) {
            ASSERT_EQ(streamCount(), 1u);
            EXPECT_FALSE(stream(0).bytes.empty());
        } else {
            // Opened late and closed unplayed; or, on a machine too busy to take the
            // sound up within the limit, never opened at all.
            std::this_thread::sleep_for(c.openTakes + milliseconds(200));
            for (std::size_t i = 0; i < streamCount(); ++i) {
                EXPECT_TRUE(server->waitFor([&] { return server->streams[i].closed; }));
                EXPECT_TRUE(stream(i).bytes.empty()) << "a late sound was played";
            }
        }
        player.reset();
    }

    // Held up: the thread is stuck opening the first sound when the second is asked for.
    SoundPlayer::Limits limits;
    limits.startLimit = milliseconds(300);
    SoundPlayer& p = start(limits);
    server->openTakes = milliseconds(10000);
    const std::string first = tone("first", 0.05);
    const std::string second = tone("second", 0.05);
    ASSERT_TRUE(p.playAsync(first));
    ASSERT_TRUE(server->waitFor([&] { return server->opens == 1; }));
    const Clock::time_point asked = Clock::now();
    EXPECT_FALSE(p.playSync(second));
    const double waited = seconds(Clock::now() - asked);
    EXPECT_GE(waited, 0.3) << "gave up before the start limit";
    EXPECT_LT(waited, 2.0);
    std::this_thread::sleep_for(milliseconds(300));
    record([](FakeServer& s) { return s.openTakes = milliseconds(0); });
    server->release();
    // The thread, free again, takes up the second sound past its limit: read, but not opened.
    const Clock::time_point released = Clock::now();
    while (p.filesRead() < 2 && Clock::now() - released < std::chrono::seconds(5))
        std::this_thread::sleep_for(milliseconds(5));
    ASSERT_EQ(p.filesRead(), 2u) << "the second sound was never taken up";
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_EQ(record([](FakeServer& s) { return s.opens; }), 1) << "a sound asked for long ago was opened";
    // And a sound asked for now plays.
    EXPECT_TRUE(p.playSync(tone("third", 0.05)));
}

// playSync waits no longer than the sound's length plus the grace for a server that
// stops taking samples, and shutdown() does not wait for it at all.
TEST_F(SoundTiming, HungServerHoldsNoCallerUp)
{
    SoundPlayer::Limits limits;
    limits.syncGrace = milliseconds(100);
    limits.shutdownWait = milliseconds(50);
    SoundPlayer& p = start(limits);
    server->writeHangs = true;
    const std::string path = tone("hung", 0.06);

    Clock::time_point asked = Clock::now();
    EXPECT_FALSE(p.playSync(path));
    const double waited = seconds(Clock::now() - asked);
    EXPECT_GE(waited, 0.06 + 0.1 - 0.005) << "gave up before the length and the grace";
    EXPECT_LT(waited, 2.0);

    asked = Clock::now();
    p.shutdown();
    EXPECT_LT(seconds(Clock::now() - asked), 1.0) << "shutdown waited for the hung server";
    EXPECT_FALSE(p.playAsync(path)) << "a sound taken after shutdown";
    EXPECT_FALSE(p.playSync(path));
    // The thread left behind ends once the server answers; the destructor waits for it.
    server->release();
    player.reset();
}

// The tail: the thread waits on the server's latency rather than in an uninterruptible
// drain, gives that up once the latency has had its time and the slack, and keeps the
// stream open while the output's own latency passes, up to a bound.
TEST_F(SoundTiming, TailIsWaitedForWithinBounds)
{
    const struct {
        const char* name;
        std::optional<microseconds> stuckLatency;
        microseconds outputLatency;
        double minDrainAfterWrite, maxDrainAfterWrite; // seconds from the last write to the drain
        double minCloseAfterDrain, maxCloseAfterDrain; // seconds from the drain to the close
    } cases[] = {
        {"latency that falls", std::nullopt, microseconds(0), 0.0, 1.0, 0.0, 0.5},
        {"latency that never falls", microseconds(150000), microseconds(0), 0.15 + 0.1, 2.0, 0.0, 0.5},
        {"output latency", std::nullopt, microseconds(80000), 0.0, 1.0, 0.08, 1.0},
        {"output latency past the bound", std::nullopt, microseconds(10000000), 0.0, 1.0, 0.12, 2.0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SoundPlayer::Limits limits;
        limits.tailSlack = milliseconds(100);
        limits.maxSinkWait = microseconds(120000);
        limits.syncGrace = milliseconds(5000);
        SoundPlayer& p = start(limits);
        server->stuckLatency = c.stuckLatency;
        server->outputLatency = c.outputLatency;
        EXPECT_TRUE(p.playSync(tone("tail", 0.1)));
        const StreamLog s = stream(0);
        ASSERT_TRUE(s.drained);
        ASSERT_TRUE(s.closed);
        EXPECT_GE(seconds(s.drainedAt - s.lastWrite), c.minDrainAfterWrite);
        EXPECT_LT(seconds(s.drainedAt - s.lastWrite), c.maxDrainAfterWrite);
        EXPECT_GE(seconds(s.closedAt - s.drainedAt), c.minCloseAfterDrain) << "closed before the output played it";
        EXPECT_LT(seconds(s.closedAt - s.drainedAt), c.maxCloseAfterDrain);
        player.reset();
    }
}

// What a failure says about later sounds: a missing server is not asked again for a
// while, a missing library never, and a sound the server refuses or that breaks off
// says nothing about the next one.
TEST_F(SoundTiming, FailuresDecideWhetherTheNextSoundIsTried)
{
    enum class Fault { NoServer, NoLibrary, SoundRefused, WriteFails };
    const struct {
        const char* name;
        Fault fault;
        bool refusedAtOnce;  // the next request, straight after
        bool refusedLater;   // the next request, after the retry delay
    } cases[] = {
        {"no server", Fault::NoServer, true, false},
        {"no library", Fault::NoLibrary, true, true},
        {"sound refused", Fault::SoundRefused, false, false},
        {"write fails", Fault::WriteFails, false, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        SoundPlayer::Limits limits;
        limits.noServerRetryDelay = milliseconds(400);
        SoundPlayer& p = start(limits);
        server->libraryMissing = c.fault == Fault::NoLibrary;
        if (c.fault == Fault::NoServer)
            server->refuse = SoundSink::Failure::Server;
        if (c.fault == Fault::SoundRefused)
            server->refuse = SoundSink::Failure::Sound;
        server->writeFails = c.fault == Fault::WriteFails;
        const std::string path = tone("fails", 0.03);

        EXPECT_FALSE(p.playSync(path));
        EXPECT_EQ(!p.playAsync(path), c.refusedAtOnce);
        EXPECT_FALSE(p.playSync(path)); // whatever it was, it still fails
        std::this_thread::sleep_for(milliseconds(600));
        EXPECT_EQ(!p.playAsync(path), c.refusedLater);
        if (c.fault == Fault::NoLibrary) {
            EXPECT_EQ(record([](FakeServer& s) { return s.opens; }), 0) << "opened without the library";
        }
        player.reset();
    }
}

// The sounds read are kept while sounds are asked for, and freed once none has been
// for a while: read again then.
TEST_F(SoundTiming, KeptSoundsAreFreedWhenIdle)
{
    SoundPlayer::Limits limits;
    limits.keepSounds = milliseconds(400);
    SoundPlayer& p = start(limits);
    const std::string path = tone("kept", 0.02);
    ASSERT_TRUE(p.playSync(path));
    ASSERT_TRUE(p.playSync(path));
    EXPECT_EQ(p.filesRead(), 1u);
    std::this_thread::sleep_for(milliseconds(1000));
    ASSERT_TRUE(p.playSync(path));
    EXPECT_EQ(p.filesRead(), 2u) << "kept past the idle time";
}

// A build without a sound library: every request fails at once and no file is read.
TEST(SoundNullSink, RefusesEverySoundAtOnce)
{
    SoundPlayer player(std::make_unique<NullSoundSink>(), SoundPlayer::Limits());
    const Clock::time_point start = Clock::now();
    EXPECT_FALSE(player.playAsync("/nonexistent.wav"));
    EXPECT_FALSE(player.playSync("/nonexistent.wav"));
    EXPECT_LT(seconds(Clock::now() - start), 0.5);
    EXPECT_EQ(player.filesRead(), 0u);
}

} // namespace
