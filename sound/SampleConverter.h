#pragma once

#include "sound/WavFile.h"

#include <cstddef>
#include <cstdint>

// Widens 8-bit unsigned, µ-law and A-law samples to signed 16-bit little-endian
// before they reach the sound server. A server pads the end (and any underrun) of a
// stream with zero bytes, which are silence only in a signed format: in 8-bit
// unsigned they are full-scale negative, and the sound ends with a click.
class SampleConverter {
public:
    // Whether samples of this format leave the program as signed 16-bit.
    static bool widens(WavFile::SampleFormat format);

    // The format the server is told about: S16LE where widens(), otherwise the file's.
    static WavFile::SampleFormat outputFormat(WavFile::SampleFormat format);

    // Converts count one-byte samples from in to count 16-bit little-endian samples
    // (2 * count bytes) at out. Only for formats that widens().
    static void toS16LE(WavFile::SampleFormat format, const std::uint8_t* in, std::size_t count, std::uint8_t* out);

    // One sample, for the formats that widens().
    static std::int16_t toS16(WavFile::SampleFormat format, std::uint8_t sample);
};
