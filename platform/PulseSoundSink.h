#pragma once

#include "platform/SoundSink.h"

// Plays through the PulseAudio protocol (PulseAudio, or PipeWire's pulse server)
// with the simple API. The library is opened when the first sound is to play, not
// at start: with what it pulls in it weighs about 1.5 MB resident, and most runs
// play no sound.
class PulseSoundSink : public SoundSink {
public:
    bool load() override;
    std::unique_ptr<SoundStream> open(const WavFile& sound, Failure& why) override;
};
