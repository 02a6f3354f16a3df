#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

class WavFile;

// One open playback stream of a sink. Used by the sound thread only; every call
// may block for as long as the server does not answer.
class SoundStream {
public:
    // Closes the stream; whatever is still queued is dropped.
    virtual ~SoundStream() = default;
    // Queues the bytes, waiting while the server's buffer is full. False on an error.
    virtual bool write(const std::uint8_t* data, std::size_t size) = 0;
    // How long until the last byte written is heard; nothing when the server cannot say.
    virtual std::optional<std::chrono::microseconds> latency() = 0;
    // Waits, without a way to interrupt it, until everything queued has been handed
    // to the output. False on an error.
    virtual bool drain() = 0;
    // Drops everything queued, at once.
    virtual void flush() = 0;
};

// Where SoundPlayer sends its samples: a sound server, or nowhere.
class SoundSink {
public:
    enum class Failure {
        Sound,  // this sound's layout was refused; others may still play
        Server, // the server is missing or broken
    };

    // The player writes in chunks of this length; a sink sizes its buffers to it.
    static constexpr unsigned chunkMs = 20;

    virtual ~SoundSink() = default;

    // True for a sink that can never play anything: requests fail at once, and the
    // player starts no thread.
    virtual bool silent() const { return false; }

    // Loads what the sink needs, on the sound thread when the first sound is to play.
    // False when it never can play: the player then stays silent for good.
    virtual bool load() = 0;

    // A stream for the sound's rate, channels and speakers, taking samples in
    // SampleConverter::outputFormat(sound.format()). Null on failure, with why set.
    virtual std::unique_ptr<SoundStream> open(const WavFile& sound, Failure& why) = 0;
};

// The sink this build plays through: PulseAudio where the build found its headers,
// otherwise the null sink.
std::unique_ptr<SoundSink> makeSystemSoundSink();
