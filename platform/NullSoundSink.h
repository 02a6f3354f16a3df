#pragma once

#include "platform/SoundSink.h"

// Plays nothing: the sink of a build without a sound library.
class NullSoundSink : public SoundSink {
public:
    bool silent() const override { return true; }
    bool load() override { return false; }
    std::unique_ptr<SoundStream> open(const WavFile&, Failure& why) override
    {
        why = Failure::Server;
        return nullptr;
    }
};
