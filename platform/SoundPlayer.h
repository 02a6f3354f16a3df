#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class WavFile;

// Plays .wav files through the PulseAudio protocol (PulseAudio or PipeWire's pulse
// server) on one background thread. A sound started while another plays cuts that
// one off. Without a sound server every call fails quickly and quietly.
class SoundPlayer {
public:
    static SoundPlayer& instance();

    // Starts the sound and returns at once. False if the file is not a playable .wav
    // or no sound server takes the stream.
    bool playAsync(const std::string& path);

    // Plays the sound to its last sample and only then returns. False as playAsync,
    // or if the sound was cut off by another one.
    bool playSync(const std::string& path);

    // Cuts off the sound that is playing, if any.
    void stop();

    // Stops playback and joins the thread; later calls fail. Call before the program
    // ends; the destructor does it too for a program that did not.
    void shutdown();

    ~SoundPlayer();

    // After a failed connection, calls fail without trying again for this long, so a
    // burst of requests (many dropped files) cannot stall on a missing server.
    static constexpr std::chrono::milliseconds noServerRetryDelay{3000};

private:
    struct Job;

    SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // Opens a stream for the sound; returns the job number, or 0 on failure.
    std::uint64_t submit(const std::string& path);
    void run();
    bool play(Job& job);
    bool cutOff(std::uint64_t generation);

    std::mutex mutex_;
    std::condition_variable wake_;  // the thread: a new job, a cut or shutdown
    std::condition_variable done_;  // playSync callers: a job finished
    std::thread thread_;
    std::unique_ptr<Job> pending_;
    std::uint64_t generation_ = 0;  // number of the newest job; a change cuts the older ones
    std::uint64_t finished_ = 0;    // number of the last job the thread is done with
    bool finishedComplete_ = false; // whether that job played to its end
    bool quit_ = false;
    std::chrono::steady_clock::time_point noServerUntil_{};
};
