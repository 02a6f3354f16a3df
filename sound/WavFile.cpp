#include "sound/WavFile.h"

#include "files/RegularFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr std::uint16_t kTagPcm = 0x0001;
constexpr std::uint16_t kTagFloat = 0x0003;
constexpr std::uint16_t kTagALaw = 0x0006;
constexpr std::uint16_t kTagULaw = 0x0007;
constexpr std::uint16_t kTagExtensible = 0xFFFE;

// Every KSDATAFORMAT_SUBTYPE_* GUID is the format tag followed by these 14 bytes.
constexpr std::uint8_t kSubtypeSuffix[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

std::uint16_t le16(const std::uint8_t* p) { return std::uint16_t(p[0] | (p[1] << 8)); }

std::uint32_t le32(const std::uint8_t* p)
{
    return std::uint32_t(p[0]) | (std::uint32_t(p[1]) << 8) | (std::uint32_t(p[2]) << 16) |
           (std::uint32_t(p[3]) << 24);
}

struct Format {
    WavFile::SampleFormat out;
    unsigned fileBytesPerSample;
    bool narrowDouble;
    unsigned channels;
    std::uint32_t rate;
    std::uint32_t channelMask;
};

// Reads a fmt chunk body of `size` bytes; nothing for a layout we cannot play.
std::optional<Format> parseFormat(const std::uint8_t* p, std::size_t size)
{
    if (size < 16)
        return std::nullopt;
    std::uint16_t tag = le16(p);
    const unsigned channels = le16(p + 2);
    const std::uint32_t rate = le32(p + 4);
    const unsigned blockAlign = le16(p + 12);
    const unsigned bits = le16(p + 14);
    std::uint32_t mask = 0;

    if (tag == kTagExtensible) {
        // cbSize at 16, then valid bits, channel mask and the sub-format GUID.
        if (size < 40 || le16(p + 16) < 22)
            return std::nullopt;
        mask = le32(p + 20);
        if (std::memcmp(p + 26, kSubtypeSuffix, sizeof kSubtypeSuffix) != 0)
            return std::nullopt;
        tag = le16(p + 24);
        const unsigned validBits = le16(p + 18);
        if (validBits > bits)
            return std::nullopt;
    }

    if (channels < 1 || channels > WavFile::maxChannels)
        return std::nullopt;
    if (rate < WavFile::minRate || rate > WavFile::maxRate)
        return std::nullopt;

    Format f{WavFile::SampleFormat::S16LE, 0, false, channels, rate, mask};
    using SF = WavFile::SampleFormat;
    if (tag == kTagPcm) {
        switch (bits) {
        case 8: f.out = SF::U8; break;
        case 16: f.out = SF::S16LE; break;
        case 24: f.out = SF::S24LE; break;
        case 32: f.out = SF::S32LE; break;
        default: return std::nullopt;
        }
    } else if (tag == kTagFloat) {
        if (bits == 32) {
            f.out = SF::Float32LE;
        } else if (bits == 64) {
            f.out = SF::Float32LE;
            f.narrowDouble = true;
        } else {
            return std::nullopt;
        }
    } else if ((tag == kTagALaw || tag == kTagULaw) && bits == 8) {
        f.out = tag == kTagALaw ? SF::ALaw : SF::ULaw;
    } else {
        return std::nullopt;
    }
    f.fileBytesPerSample = bits / 8;

    // The frame size must agree with the sample size, or the data layout is a guess.
    if (blockAlign != f.fileBytesPerSample * channels)
        return std::nullopt;
    // A speaker mask naming fewer speakers than channels is ignored, as players do.
    if (mask != 0) {
        unsigned named = 0;
        for (std::uint32_t m = mask; m != 0; m &= m - 1)
            ++named;
        if (named != channels)
            f.channelMask = 0;
    }
    return f;
}

} // namespace

unsigned WavFile::bytesPerSample(SampleFormat format)
{
    switch (format) {
    case SampleFormat::U8:
    case SampleFormat::ALaw:
    case SampleFormat::ULaw: return 1;
    case SampleFormat::S16LE: return 2;
    case SampleFormat::S24LE: return 3;
    case SampleFormat::S32LE:
    case SampleFormat::Float32LE: return 4;
    }
    return 1;
}

std::uint64_t WavFile::durationUs() const
{
    if (rate_ == 0)
        return 0;
    return std::uint64_t(frameCount()) * 1000000u / rate_;
}

std::optional<WavFile> WavFile::fromBytes(const std::uint8_t* data, std::size_t size)
{
    if (data == nullptr || size < 12 || std::memcmp(data, "RIFF", 4) != 0 ||
        std::memcmp(data + 8, "WAVE", 4) != 0)
        return std::nullopt;

    // The RIFF size is not trusted: writers that stream leave it 0 or 0xFFFFFFFF.
    // The chunks are walked to the end of the bytes we have.
    std::optional<Format> format;
    const std::uint8_t* dataBody = nullptr;
    std::size_t dataSize = 0;
    bool haveData = false;

    std::size_t pos = 12;
    while (size - pos >= 8) {
        const std::uint8_t* header = data + pos;
        const std::uint32_t chunkSize = le32(header + 4);
        const std::size_t bodyPos = pos + 8;
        const std::size_t available = size - bodyPos;
        const bool truncated = chunkSize > available;

        if (std::memcmp(header, "fmt ", 4) == 0 && !format) {
            if (truncated)
                return std::nullopt;
            format = parseFormat(data + bodyPos, chunkSize);
            if (!format)
                return std::nullopt;
        } else if (std::memcmp(header, "data", 4) == 0 && !haveData) {
            haveData = true;
            dataBody = data + bodyPos;
            dataSize = truncated ? available : chunkSize;
        }
        if (truncated || (format && haveData))
            break;
        // Chunks are padded to even sizes; 64-bit arithmetic keeps a huge size from wrapping.
        const std::uint64_t next = std::uint64_t(bodyPos) + chunkSize + (chunkSize & 1u);
        if (next > size)
            break;
        pos = std::size_t(next);
    }
    if (!format || !haveData)
        return std::nullopt;

    WavFile wav;
    wav.format_ = format->out;
    wav.rate_ = format->rate;
    wav.channels_ = format->channels;
    wav.channelMask_ = format->channelMask;

    const std::size_t fileFrameBytes = std::size_t(format->fileBytesPerSample) * format->channels;
    const std::size_t frames = dataSize / fileFrameBytes;
    const std::size_t samples = frames * format->channels;
    if (format->narrowDouble) {
        wav.samples_.resize(samples * 4);
        for (std::size_t i = 0; i < samples; ++i) {
            double d;
            std::uint64_t bits = 0;
            for (int b = 7; b >= 0; --b)
                bits = (bits << 8) | dataBody[i * 8 + std::size_t(b)];
            std::memcpy(&d, &bits, sizeof d);
            // Out-of-range and NaN samples would be noise at full scale; clamp them.
            float f = std::isnan(d) ? 0.0f : float(d < -1.0 ? -1.0 : (d > 1.0 ? 1.0 : d));
            std::uint32_t fb;
            std::memcpy(&fb, &f, sizeof fb);
            for (int b = 0; b < 4; ++b)
                wav.samples_[i * 4 + std::size_t(b)] = std::uint8_t(fb >> (8 * b));
        }
    } else {
        wav.samples_.assign(dataBody, dataBody + frames * fileFrameBytes);
    }
    return wav;
}

std::optional<WavFile> WavFile::fromFile(const std::string& path)
{
    const RegularFile file = RegularFile::readWhole(path, maxFileBytes);
    if (!file.ok())
        return std::nullopt;
    return fromBytes(reinterpret_cast<const std::uint8_t*>(file.bytes().data()), file.bytes().size());
}
