#include "ToneWriter.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

void put(std::vector<std::uint8_t>& b, std::uint64_t v, int bytes)
{
    for (int i = 0; i < bytes; ++i)
        b.push_back(std::uint8_t(v >> (8 * i)));
}

} // namespace

std::vector<std::uint8_t> ToneWriter::bytes(const Tone& t)
{
    unsigned bits = 16;
    unsigned tag = 1;
    switch (t.layout) {
    case Layout::Pcm8: bits = 8; break;
    case Layout::Pcm16: bits = 16; break;
    case Layout::Pcm24: bits = 24; break;
    case Layout::Pcm32: bits = 32; break;
    case Layout::Float32: bits = 32; tag = 3; break;
    case Layout::Float64: bits = 64; tag = 3; break;
    case Layout::Extensible16: bits = 16; tag = 0xFFFE; break;
    }
    const unsigned blockAlign = t.channels * bits / 8;
    const std::size_t frames = std::size_t(t.seconds * t.rate);

    std::vector<std::uint8_t> data;
    data.reserve(frames * blockAlign);
    const double pi = std::acos(-1.0);
    for (std::size_t i = 0; i < frames; ++i) {
        const double v = t.amplitude * std::sin(2 * pi * t.frequency * double(i) / t.rate);
        for (unsigned c = 0; c < t.channels; ++c) {
            switch (t.layout) {
            case Layout::Pcm8: data.push_back(std::uint8_t(std::lround(128 + v * 127))); break;
            case Layout::Pcm16:
            case Layout::Extensible16: put(data, std::uint64_t(std::lround(v * 32767)), 2); break;
            case Layout::Pcm24: put(data, std::uint64_t(std::lround(v * 8388607)), 3); break;
            case Layout::Pcm32: put(data, std::uint64_t(std::llround(v * 2147483647.0)), 4); break;
            case Layout::Float32: {
                const float f = float(v);
                std::uint32_t u;
                std::memcpy(&u, &f, 4);
                put(data, u, 4);
                break;
            }
            case Layout::Float64: {
                std::uint64_t u;
                std::memcpy(&u, &v, 8);
                put(data, u, 8);
                break;
            }
            }
        }
    }

    std::vector<std::uint8_t> fmt;
    put(fmt, tag, 2);
    put(fmt, t.channels, 2);
    put(fmt, t.rate, 4);
    put(fmt, t.rate * blockAlign, 4);
    put(fmt, blockAlign, 2);
    put(fmt, bits, 2);
    if (t.layout == Layout::Extensible16) {
        put(fmt, 22, 2);
        put(fmt, bits, 2);
        put(fmt, t.channels == 2 ? 0x3 : 0x4, 4);
        const std::uint8_t pcmGuid[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                          0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
        fmt.insert(fmt.end(), pcmGuid, pcmGuid + 16);
    }

    std::vector<std::uint8_t> file{'R', 'I', 'F', 'F'};
    put(file, 4 + 8 + fmt.size() + 8 + data.size() + (data.size() & 1), 4);
    file.insert(file.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    put(file, fmt.size(), 4);
    file.insert(file.end(), fmt.begin(), fmt.end());
    file.insert(file.end(), {'d', 'a', 't', 'a'});
    put(file, data.size(), 4);
    file.insert(file.end(), data.begin(), data.end());
    if (data.size() & 1)
        file.push_back(0);
    return file;
}

bool ToneWriter::write(const std::string& path, const Tone& tone)
{
    const std::vector<std::uint8_t> b = bytes(tone);
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = std::fwrite(b.data(), 1, b.size(), f) == b.size();
    return std::fclose(f) == 0 && ok;
}
