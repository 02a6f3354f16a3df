#include "sound/SampleConverter.h"

namespace {

// ITU-T G.711 expansion: the code's bits are inverted (µ-law) or every other one
// flipped (A-law) on the wire, so that silence is not a run of zero bytes.
std::int16_t fromULaw(std::uint8_t code)
{
    const unsigned u = ~code & 0xFFu;
    const int magnitude = ((int((u & 0x0F) << 3) + 0x84) << ((u & 0x70) >> 4)) - 0x84;
    return std::int16_t((u & 0x80) ? -magnitude : magnitude);
}

std::int16_t fromALaw(std::uint8_t code)
{
    const unsigned a = code ^ 0x55u;
    const unsigned segment = (a & 0x70) >> 4;
    int magnitude = int(a & 0x0F) << 4;
    if (segment == 0)
        magnitude += 8;
    else
        magnitude = (magnitude + 0x108) << (segment - 1);
    return std::int16_t((a & 0x80) ? magnitude : -magnitude);
}

} // namespace

bool SampleConverter::widens(WavFile::SampleFormat format)
{
    return format == WavFile::SampleFormat::U8 || format == WavFile::SampleFormat::ULaw
        || format == WavFile::SampleFormat::ALaw;
}

WavFile::SampleFormat SampleConverter::outputFormat(WavFile::SampleFormat format)
{
    return widens(format) ? WavFile::SampleFormat::S16LE : format;
}

std::int16_t SampleConverter::toS16(WavFile::SampleFormat format, std::uint8_t sample)
{
    switch (format) {
    case WavFile::SampleFormat::ULaw: return fromULaw(sample);
    case WavFile::SampleFormat::ALaw: return fromALaw(sample);
    default: return std::int16_t((int(sample) - 128) * 256);
    }
}

void SampleConverter::toS16LE(WavFile::SampleFormat format, const std::uint8_t* in, std::size_t count,
                              std::uint8_t* out)
{
    // A table per call is cheaper than the branches per sample for anything longer
    // than a few hundred samples, and a chunk is 20 ms.
    std::int16_t table[256];
    for (unsigned i = 0; i < 256; ++i)
        table[i] = toS16(format, std::uint8_t(i));
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint16_t v = std::uint16_t(table[in[i]]);
        out[2 * i] = std::uint8_t(v & 0xFF);
        out[2 * i + 1] = std::uint8_t(v >> 8);
    }
}
