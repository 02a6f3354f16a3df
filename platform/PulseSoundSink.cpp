#include "platform/PulseSoundSink.h"

#include "sound/SampleConverter.h"
#include "sound/WavFile.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <dlfcn.h>

#include <algorithm>
#include <limits>

namespace {

// The server holds this much audio ahead of playback: small, so that a cut drops
// little and a stalled writer is noticed, large enough not to underrun on a busy machine.
constexpr unsigned kBufferMs = 200;

struct PulseApi {
    decltype(&::pa_simple_new) simpleNew;
    decltype(&::pa_simple_free) simpleFree;
    decltype(&::pa_simple_write) simpleWrite;
    decltype(&::pa_simple_drain) simpleDrain;
    decltype(&::pa_simple_flush) simpleFlush;
    decltype(&::pa_simple_get_latency) simpleGetLatency;
    decltype(&::pa_sample_spec_valid) sampleSpecValid;
    decltype(&::pa_usec_to_bytes) usecToBytes;
    decltype(&::pa_channel_map_init) channelMapInit;
    decltype(&::pa_channel_map_init_extend) channelMapInitExtend;
    decltype(&::pa_channel_map_compatible) channelMapCompatible;
};

template <typename F>
bool resolve(void* library, const char* name, F& f)
{
    f = reinterpret_cast<F>(dlsym(library, name));
    return f != nullptr;
}

// Null when the library cannot be loaded: the program is then silent.
const PulseApi* pulse()
{
    static const PulseApi* api = []() -> const PulseApi* {
        // Never closed: streams may live until the process ends.
        void* library = dlopen("libpulse-simple.so.0", RTLD_NOW | RTLD_LOCAL);
        if (!library)
            return nullptr;
        static PulseApi loaded;
        const bool ok = resolve(library, "pa_simple_new", loaded.simpleNew)
            && resolve(library, "pa_simple_free", loaded.simpleFree)
            && resolve(library, "pa_simple_write", loaded.simpleWrite)
            && resolve(library, "pa_simple_drain", loaded.simpleDrain)
            && resolve(library, "pa_simple_flush", loaded.simpleFlush)
            && resolve(library, "pa_simple_get_latency", loaded.simpleGetLatency)
            && resolve(library, "pa_sample_spec_valid", loaded.sampleSpecValid)
            && resolve(library, "pa_usec_to_bytes", loaded.usecToBytes)
            && resolve(library, "pa_channel_map_init", loaded.channelMapInit)
            && resolve(library, "pa_channel_map_init_extend", loaded.channelMapInitExtend)
            && resolve(library, "pa_channel_map_compatible", loaded.channelMapCompatible);
        return ok ? &loaded : nullptr;
    }();
    return api;
}

pa_sample_format_t paFormat(WavFile::SampleFormat f)
{
    switch (f) {
    case WavFile::SampleFormat::U8: return PA_SAMPLE_U8;
    case WavFile::SampleFormat::S16LE: return PA_SAMPLE_S16LE;
    case WavFile::SampleFormat::S24LE: return PA_SAMPLE_S24LE;
    case WavFile::SampleFormat::S32LE: return PA_SAMPLE_S32LE;
    case WavFile::SampleFormat::Float32LE: return PA_SAMPLE_FLOAT32LE;
    case WavFile::SampleFormat::ALaw: return PA_SAMPLE_ALAW;
    case WavFile::SampleFormat::ULaw: return PA_SAMPLE_ULAW;
    }
    return PA_SAMPLE_INVALID;
}

// The speakers of a WAVE_FORMAT_EXTENSIBLE mask, bit by bit; later bits are auxiliary.
pa_channel_map channelMap(const WavFile& wav)
{
    static const pa_channel_position_t kMaskPositions[] = {
        PA_CHANNEL_POSITION_FRONT_LEFT,
        PA_CHANNEL_POSITION_FRONT_RIGHT,
        PA_CHANNEL_POSITION_FRONT_CENTER,
        PA_CHANNEL_POSITION_LFE,
        PA_CHANNEL_POSITION_REAR_LEFT,
        PA_CHANNEL_POSITION_REAR_RIGHT,
        PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER,
        PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER,
        PA_CHANNEL_POSITION_REAR_CENTER,
        PA_CHANNEL_POSITION_SIDE_LEFT,
        PA_CHANNEL_POSITION_SIDE_RIGHT,
        PA_CHANNEL_POSITION_TOP_CENTER,
        PA_CHANNEL_POSITION_TOP_FRONT_LEFT,
        PA_CHANNEL_POSITION_TOP_FRONT_CENTER,
        PA_CHANNEL_POSITION_TOP_FRONT_RIGHT,
        PA_CHANNEL_POSITION_TOP_REAR_LEFT,
        PA_CHANNEL_POSITION_TOP_REAR_CENTER,
        PA_CHANNEL_POSITION_TOP_REAR_RIGHT,
    };
    constexpr unsigned kKnown = sizeof kMaskPositions / sizeof kMaskPositions[0];

    pa_channel_map map;
    if (wav.channelMask() == 0) {
        // Files without a mask use the same default order as WAVE_FORMAT_EXTENSIBLE.
        pulse()->channelMapInitExtend(&map, wav.channels(), PA_CHANNEL_MAP_WAVEEX);
        return map;
    }
    pulse()->channelMapInit(&map);
    map.channels = std::uint8_t(wav.channels());
    unsigned channel = 0;
    unsigned aux = 0;
    for (unsigned bit = 0; bit < 32 && channel < wav.channels(); ++bit) {
        if ((wav.channelMask() & (1u << bit)) == 0)
            continue;
        map.map[channel++] = bit < kKnown
                                 ? kMaskPositions[bit]
                                 : pa_channel_position_t(PA_CHANNEL_POSITION_AUX0 + aux++);
    }
    return map;
}

// Errors that say nothing about the server, only about this sound.
bool isSoundError(int error)
{
    return error == PA_ERR_INVALID || error == PA_ERR_NOTSUPPORTED || error == PA_ERR_TOOLARGE;
}

class PulseStream : public SoundStream {
public:
    explicit PulseStream(pa_simple* stream) : stream_(stream) {}
    ~PulseStream() override { pulse()->simpleFree(stream_); }
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    bool write(const std::uint8_t* data, std::size_t size) override
    {
        int error = 0;
        return pulse()->simpleWrite(stream_, data, size, &error) >= 0;
    }

    std::optional<std::chrono::microseconds> latency() override
    {
        int error = 0;
        const pa_usec_t latency = pulse()->simpleGetLatency(stream_, &error);
        if (latency == pa_usec_t(-1))
            return std::nullopt;
        using Rep = std::chrono::microseconds::rep;
        return std::chrono::microseconds(Rep(std::min<pa_usec_t>(latency, std::numeric_limits<Rep>::max())));
    }

    bool drain() override
    {
        int error = 0;
        return pulse()->simpleDrain(stream_, &error) >= 0;
    }

    void flush() override
    {
        int error = 0;
        pulse()->simpleFlush(stream_, &error);
    }

private:
    pa_simple* stream_;
};

} // namespace

bool PulseSoundSink::load()
{
    return pulse() != nullptr;
}

std::unique_ptr<SoundStream> PulseSoundSink::open(const WavFile& wav, Failure& why)
{
    why = Failure::Sound;
    pa_sample_spec sampleSpec;
    sampleSpec.format = paFormat(SampleConverter::outputFormat(wav.format()));
    sampleSpec.rate = wav.rate();
    sampleSpec.channels = std::uint8_t(wav.channels());
    const pa_channel_map map = channelMap(wav);
    if (!pulse()->sampleSpecValid(&sampleSpec) || !pulse()->channelMapCompatible(&map, &sampleSpec))
        return nullptr;
    pa_buffer_attr attr;
    const std::uint32_t chunkBytes = std::uint32_t(pulse()->usecToBytes(chunkMs * 1000u, &sampleSpec));
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pulse()->usecToBytes(kBufferMs * 1000u, &sampleSpec));
    // Playback starts after one chunk, so a sound shorter than the buffer is not held back.
    attr.prebuf = chunkBytes;
    attr.minreq = chunkBytes;
    attr.fragsize = std::uint32_t(-1);

    // May block for as long as the server does not answer (a stopped server: the
    // library's own 30 s); only the sound thread waits.
    int error = 0;
    pa_simple* stream = pulse()->simpleNew(nullptr, "Tassio", PA_STREAM_PLAYBACK, nullptr, "sound", &sampleSpec,
                                           &map, &attr, &error);
    if (stream == nullptr) {
        why = isSoundError(error) ? Failure::Sound : Failure::Server;
        return nullptr;
    }
    return std::make_unique<PulseStream>(stream);
}
