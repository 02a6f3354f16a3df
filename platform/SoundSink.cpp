#include "platform/SoundSink.h"

// Which sink is built in is decided once, here; the player knows only the interface.
#ifdef TASSIO_HAVE_PULSE
#include "platform/PulseSoundSink.h"

std::unique_ptr<SoundSink> makeSystemSoundSink()
{
    return std::make_unique<PulseSoundSink>();
}
#else
#include "platform/NullSoundSink.h"

std::unique_ptr<SoundSink> makeSystemSoundSink()
{
    return std::make_unique<NullSoundSink>();
}
#endif
