#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Writes sine tones as .wav files in every layout the player reads, for the sound tests.
class ToneWriter {
public:
    enum class Layout { Pcm8, Pcm16, Pcm24, Pcm32, Float32, Float64, Extensible16 };

    struct Tone {
        Layout layout = Layout::Pcm16;
        unsigned channels = 1;
        std::uint32_t rate = 44100;
        double frequency = 440.0;
        double seconds = 0.5;
        double amplitude = 0.5; // of full scale
    };

    // The whole file; the same tone in every channel.
    static std::vector<std::uint8_t> bytes(const Tone& tone);
    static bool write(const std::string& path, const Tone& tone);
};
