#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class SoundSink;
class SoundStream;
class WavCache;

// Plays .wav files through a SoundSink (PulseAudio or PipeWire's pulse server, or
// none) on one background thread. A sound started while another plays cuts that
// one off. Only the sound thread reads sound files and talks to the server: a large
// file, or a server that is missing, hung or stopped, costs the caller nothing. The
// thread keeps the sounds it read lately (WavCache), so one played again is not read
// again while its file stays the same.
class SoundPlayer {
public:
    // The program's player, on the system's sink.
    static SoundPlayer& instance();

    // Hands the file to the sound thread and returns. False if the player is shut
    // down or the server was found missing within noServerRetryDelay; a file that is
    // not a playable .wav is found out by the thread, which then plays nothing.
    bool playAsync(const std::string& path);

    // Plays the sound to its last sample and only then returns, but waits no longer
    // than the sound's length plus syncGrace once it has been read, loadWait for the
    // reading, and startLimit for a thread held up by an earlier sound. False as
    // playAsync, if the file is not a playable .wav, or the sound was cut off, could
    // not start, or did not end in that time.
    bool playSync(const std::string& path);

    // Cuts off the sound that is playing, if any.
    void stop();

    // Stops playback and lets the thread go; later calls fail. Waits at most
    // shutdownWait for the thread to close its stream: a thread stuck in a hung
    // server is left behind rather than holding the program's exit.
    void shutdown();

    // After a failed connection, calls fail without trying again for this long, so a
    // burst of requests (many dropped files) cannot stall on a missing server.
    static constexpr std::chrono::milliseconds noServerRetryDelay{3000};
    // A sound whose stream is not open this long after it was asked for is dropped:
    // late, it would no longer belong to what set it off.
    static constexpr std::chrono::milliseconds startLimit{1000};
    static constexpr std::chrono::milliseconds syncGrace{500};
    static constexpr std::chrono::milliseconds shutdownWait{100};
    // The longest playSync waits for the thread to read the file.
    static constexpr std::chrono::milliseconds loadWait{10000};
    // Sounds read are kept this long after the last sound ended, then freed.
    static constexpr std::chrono::milliseconds keepSounds{10000};

    // While more than this is still queued in the server, the thread waits on the
    // queue's latency, watching for a newer sound; the rest is drained.
    static constexpr std::chrono::microseconds drainBelow{30000};
    // The wait for the queue stops this long after its latency said it would be
    // played, for a server whose latency does not fall.
    static constexpr std::chrono::milliseconds tailSlack{1000};
    // Bound on the wait for the output's own latency after the drain; small enough
    // that a sound at exit ends well inside syncGrace.
    static constexpr std::chrono::microseconds maxSinkWait{300000};

    // The limits above, for one player: tests shorten them.
    struct Limits {
        std::chrono::milliseconds noServerRetryDelay = SoundPlayer::noServerRetryDelay;
        std::chrono::milliseconds startLimit = SoundPlayer::startLimit;
        std::chrono::milliseconds syncGrace = SoundPlayer::syncGrace;
        std::chrono::milliseconds shutdownWait = SoundPlayer::shutdownWait;
        std::chrono::milliseconds loadWait = SoundPlayer::loadWait;
        std::chrono::milliseconds keepSounds = SoundPlayer::keepSounds;
        std::chrono::microseconds drainBelow = SoundPlayer::drainBelow;
        std::chrono::milliseconds tailSlack = SoundPlayer::tailSlack;
        std::chrono::microseconds maxSinkWait = SoundPlayer::maxSinkWait;
    };

    // A player of its own on the given sink (tests); the program uses instance().
    SoundPlayer(std::unique_ptr<SoundSink> sink, const Limits& limits);
    // Shuts down and waits for the thread, however long it takes. instance() is never
    // destroyed: a thread left behind in a hung server may still use it while the
    // process exits.
    ~SoundPlayer();

    // How many sound files the thread has read (tests).
    std::uint64_t filesRead() const;

private:
    struct Job;

    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Queues the sound; returns the job number, or 0 on failure.
    std::uint64_t submit(const std::string& path);
    void run();
    void load(Job& job);
    bool play(Job& job);
    bool open(Job& job);
    bool cutOff(std::uint64_t generation);
    // Waits up to `wait` for the job to be cut off; true when it was.
    bool cutOffWithin(std::uint64_t generation, std::chrono::microseconds wait);

    const std::unique_ptr<SoundSink> sink_;
    const Limits limits_;

    std::mutex mutex_;
    std::condition_variable wake_;  // the thread: a new job, a cut or shutdown
    std::condition_variable done_;  // playSync callers: a job finished
    std::thread thread_;
    std::unique_ptr<Job> pending_;
    std::uint64_t generation_ = 0;  // number of the newest job; a change cuts the older ones
    std::uint64_t finished_ = 0;    // number of the last job the thread is done with
    bool finishedComplete_ = false; // whether that job played to its end
    std::uint64_t taken_ = 0;       // number of the last job the thread has taken up
    std::uint64_t loaded_ = 0;      // number of the last job whose sound has been read
    std::chrono::steady_clock::time_point playDeadline_{}; // when that one must have ended
    std::unique_ptr<WavCache> cache_; // the sound thread's own
    bool quit_ = false;
    bool threadStarted_ = false;
    bool threadEnded_ = false;      // run() has returned; joining cannot block
    std::chrono::steady_clock::time_point noServerUntil_{};
};
