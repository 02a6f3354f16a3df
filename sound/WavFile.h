#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// A RIFF/WAVE sound decoded into sample bytes that a PulseAudio stream takes as
// they are. No Qt here: the reader is fed untrusted files dropped on the window.
class WavFile {
public:
    // Sample layouts on the way out; each maps one to one onto a pa_sample_format_t.
    enum class SampleFormat {
        U8,        // 8-bit PCM is unsigned in WAVE files
        S16LE,
        S24LE,     // packed, 3 bytes a sample, as stored in the file
        S32LE,
        Float32LE, // 64-bit float files are narrowed to this
        ALaw,
        ULaw,
    };

    static constexpr std::uint64_t maxFileBytes = 256ull * 1024 * 1024;
    static constexpr unsigned maxChannels = 8;
    static constexpr std::uint32_t minRate = 1000;
    static constexpr std::uint32_t maxRate = 384000;

    // Parses a whole file image. A data chunk cut short by the end of the file yields
    // the whole frames that are there. Returns nothing for anything it cannot play.
    static std::optional<WavFile> fromBytes(const std::uint8_t* data, std::size_t size);

    // Reads a regular file of at most maxFileBytes; FIFOs, devices and directories are
    // refused without blocking on them.
    static std::optional<WavFile> fromFile(const std::string& path);

    SampleFormat format() const { return format_; }
    std::uint32_t rate() const { return rate_; }
    unsigned channels() const { return channels_; }
    // WAVE_FORMAT_EXTENSIBLE speaker mask (bit 0 front left, 1 front right, ...);
    // 0 when the file gives none and the usual order for the channel count applies.
    std::uint32_t channelMask() const { return channelMask_; }
    const std::vector<std::uint8_t>& samples() const { return samples_; }

    static unsigned bytesPerSample(SampleFormat format);
    unsigned bytesPerFrame() const { return bytesPerSample(format_) * channels_; }
    std::size_t frameCount() const { return samples_.size() / bytesPerFrame(); }
    // Length in microseconds, exact to the frame (rounded down).
    std::uint64_t durationUs() const;

private:
    WavFile() = default;

    SampleFormat format_ = SampleFormat::S16LE;
    std::uint32_t rate_ = 0;
    unsigned channels_ = 0;
    std::uint32_t channelMask_ = 0;
    std::vector<std::uint8_t> samples_;
};
