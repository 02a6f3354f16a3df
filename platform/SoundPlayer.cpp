#include "platform/SoundPlayer.h"

#include "sound/SampleConverter.h"
#include "sound/WavCache.h"
#include "sound/WavFile.h"

#include <algorithm>

#ifdef TASSIO_HAVE_PULSE
#include <pulse/error.h>
#include <pulse/simple.h>

#include <dlfcn.h>
#else
struct pa_simple;
#endif

namespace {

using Clock = std::chrono::steady_clock;

// Between two chunks of this length the thread looks for a newer sound to cut over to.
constexpr unsigned kChunkMs = 20;
// The server holds this much audio ahead of playback: small, so that a cut drops
// little and a stalled writer is noticed, large enough not to underrun on a busy machine.
constexpr unsigned kBufferMs = 200;
// When less than this is still queued the rest is left to pa_simple_drain.
constexpr std::chrono::microseconds kDrainBelow{30000};
// Bound on the wait for the sink's own latency after the drain; small enough that a
// sound at exit ends well inside SoundPlayer::syncGrace.
constexpr std::chrono::microseconds kMaxSinkWait{300000};

#ifdef TASSIO_HAVE_PULSE
// The sound library and what it pulls in (codecs, crypto, the system
// journal) weigh about 1.5 MB resident: they are loaded when the first sound
// plays, not at start, and most runs play none.
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
#endif

} // namespace

struct SoundPlayer::Job {
    std::uint64_t generation;
    std::string path;
    Clock::time_point requested;
    std::shared_ptr<const WavFile> sound;
    pa_simple* stream = nullptr;

    Job(std::uint64_t g, std::string p, Clock::time_point r) : generation(g), path(std::move(p)), requested(r) {}
    ~Job()
    {
#ifdef TASSIO_HAVE_PULSE
        if (stream != nullptr)
            pulse()->simpleFree(stream);
#endif
    }
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;
};

SoundPlayer& SoundPlayer::instance()
{
    static SoundPlayer* player = new SoundPlayer;
    return *player;
}

SoundPlayer::SoundPlayer() : cache_(std::make_unique<WavCache>()) {}

bool SoundPlayer::playAsync(const std::string& path)
{
    return submit(path) != 0;
}

bool SoundPlayer::playSync(const std::string& path)
{
    const std::uint64_t generation = submit(path);
    if (generation == 0)
        return false;
    const Clock::time_point submitted = Clock::now();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (quit_ || finished_ >= generation || generation_ != generation)
            break;
        // Read: its length is known. Being read: as long as reading may take.
        // Not yet taken up: a thread held up that long drops the sound as too late.
        const Clock::time_point deadline = loaded_ == generation ? playDeadline_
            : taken_ == generation                              ? submitted + loadWait
                                                                : submitted + startLimit;
        if (Clock::now() >= deadline)
            break;
        done_.wait_until(lock, deadline);
    }
    return finished_ == generation && finishedComplete_;
}

std::uint64_t SoundPlayer::filesRead() const
{
    return cache_->filesRead();
}

void SoundPlayer::stop()
{
    std::unique_ptr<Job> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ++generation_;
        dropped = std::move(pending_);
    }
    wake_.notify_all();
    done_.notify_all();
}

void SoundPlayer::shutdown()
{
    std::unique_ptr<Job> dropped;
    std::thread thread;
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        quit_ = true;
        dropped = std::move(pending_);
        // Whoever takes the thread object ends it; a second caller finds none.
        thread = std::move(thread_);
        wake_.notify_all();
        done_.notify_all();
        if (thread.joinable() && thread.get_id() != std::this_thread::get_id())
            ended = done_.wait_for(lock, shutdownWait, [&] { return threadEnded_; });
    }
    if (!thread.joinable())
        return;
    if (ended)
        thread.join();
    else
        thread.detach(); // blocked in the server; the process may end around it
}

std::uint64_t SoundPlayer::submit(const std::string& path)
{
#ifndef TASSIO_HAVE_PULSE
    (void)path;
    return 0;
#else
    std::unique_ptr<Job> replaced;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_ || Clock::now() < noServerUntil_)
            return 0;
        generation = ++generation_;
        replaced = std::move(pending_);
        pending_ = std::make_unique<Job>(generation, path, Clock::now());
        if (!thread_.joinable())
            thread_ = std::thread(&SoundPlayer::run, this);
    }
    wake_.notify_all();
    done_.notify_all();
    return generation;
#endif
}

bool SoundPlayer::cutOff(std::uint64_t generation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_ || generation_ != generation;
}

void SoundPlayer::run()
{
    Clock::time_point idleSince = Clock::now();
    for (;;) {
        std::unique_ptr<Job> job;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            const auto ready = [&] { return quit_ || pending_ != nullptr; };
            // The sounds read are freed once none has been asked for in a while.
            if (!cache_->empty() && !wake_.wait_until(lock, idleSince + keepSounds, ready)) {
                lock.unlock();
                cache_->clear();
                continue;
            }
            wake_.wait(lock, ready);
            if (quit_)
                break;
            job = std::move(pending_);
            taken_ = job->generation;
        }
        done_.notify_all();
        load(*job);
        const bool complete = job->sound && open(*job) && play(*job);
        idleSince = Clock::now();
        const std::uint64_t generation = job->generation;
        job.reset(); // closes the stream before anyone waiting hears of the end
        {
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = generation;
            finishedComplete_ = complete;
        }
        done_.notify_all();
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        threadEnded_ = true;
    }
    done_.notify_all();
}

void SoundPlayer::load(Job& job)
{
    if (cutOff(job.generation))
        return;
    const Clock::time_point start = Clock::now();
    job.sound = cache_->load(job.path);
    // Reading is not lateness: the start limit counts from the sound being ready.
    job.requested += Clock::now() - start;
    if (!job.sound)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (generation_ == job.generation) {
            loaded_ = job.generation;
            playDeadline_ = Clock::now() + std::chrono::microseconds(job.sound->durationUs()) + syncGrace;
        }
    }
    done_.notify_all();
}

bool SoundPlayer::open(Job& job)
{
#ifndef TASSIO_HAVE_PULSE
    (void)job;
    return false;
#else
    if (!pulse()) {
        std::lock_guard<std::mutex> lock(mutex_);
        noServerUntil_ = Clock::time_point::max();
        return false;
    }
    // Asked for too long ago: the thread was held up by an earlier sound.
    if (Clock::now() - job.requested > startLimit || cutOff(job.generation))
        return false;
    const WavFile& wav = *job.sound;

    pa_sample_spec sampleSpec;
    sampleSpec.format = paFormat(SampleConverter::outputFormat(wav.format()));
    sampleSpec.rate = wav.rate();
    sampleSpec.channels = std::uint8_t(wav.channels());
    const pa_channel_map map = channelMap(wav);
    if (!pulse()->sampleSpecValid(&sampleSpec) || !pulse()->channelMapCompatible(&map, &sampleSpec))
        return false;
    pa_buffer_attr attr;
    const std::uint32_t chunkBytes = std::uint32_t(pulse()->usecToBytes(kChunkMs * 1000u, &sampleSpec));
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pulse()->usecToBytes(kBufferMs * 1000u, &sampleSpec));
    // Playback starts after one chunk, so a sound shorter than the buffer is not held back.
    attr.prebuf = chunkBytes;
    attr.minreq = chunkBytes;
    attr.fragsize = std::uint32_t(-1);

    // May block for as long as the server does not answer (a stopped server: the
    // library's own 30 s); only this thread waits.
    int error = 0;
    job.stream = pulse()->simpleNew(nullptr, "Tassio", PA_STREAM_PLAYBACK, nullptr, "sound", &sampleSpec, &map,
                                    &attr, &error);
    if (job.stream == nullptr) {
        if (!isSoundError(error)) {
            std::lock_guard<std::mutex> lock(mutex_);
            noServerUntil_ = Clock::now() + noServerRetryDelay;
        }
        return false;
    }
    // Opened, but too late to belong to what asked for it: dropped, as with no server.
    return Clock::now() - job.requested <= startLimit;
#endif
}

bool SoundPlayer::play(Job& job)
{
#ifndef TASSIO_HAVE_PULSE
    (void)job;
    return false;
#else
    const std::vector<std::uint8_t>& bytes = job.sound->samples();
    const WavFile::SampleFormat format = job.sound->format();
    const bool widen = SampleConverter::widens(format);
    const std::size_t frameBytes = job.sound->bytesPerFrame();
    const std::size_t chunk =
        std::max<std::size_t>(1, std::size_t(job.sound->rate()) * kChunkMs / 1000) * frameBytes;
    std::vector<std::uint8_t> widened(widen ? 2 * chunk : 0);
    int error = 0;

    for (std::size_t offset = 0; offset < bytes.size();) {
        if (cutOff(job.generation)) {
            pulse()->simpleFlush(job.stream, &error);
            return false;
        }
        const std::size_t n = std::min(chunk, bytes.size() - offset);
        const std::uint8_t* data = bytes.data() + offset;
        std::size_t size = n;
        if (widen) {
            SampleConverter::toS16LE(format, data, n, widened.data());
            data = widened.data();
            size = 2 * n;
        }
        if (pulse()->simpleWrite(job.stream, data, size, &error) < 0)
            return false;
        offset += n;
    }
    // The tail still queued in the server plays out here; pa_simple_drain cannot be
    // interrupted, so wait on the latency while watching for a newer sound, and drain
    // only the last few milliseconds.
    pa_usec_t latency = pulse()->simpleGetLatency(job.stream, &error);
    const Clock::time_point deadline =
        Clock::now() + std::chrono::microseconds(latency == pa_usec_t(-1) ? 0 : latency) +
        std::chrono::seconds(1);
    while (latency != pa_usec_t(-1) && std::chrono::microseconds(latency) > kDrainBelow &&
           Clock::now() < deadline) {
        const auto nap = std::min<std::chrono::microseconds>(
            std::chrono::microseconds(latency) - kDrainBelow / 2, std::chrono::milliseconds(50));
        std::unique_lock<std::mutex> lock(mutex_);
        if (wake_.wait_for(lock, nap, [&] { return quit_ || generation_ != job.generation; })) {
            lock.unlock();
            pulse()->simpleFlush(job.stream, &error);
            return false;
        }
        lock.unlock();
        latency = pulse()->simpleGetLatency(job.stream, &error);
    }
    if (cutOff(job.generation)) {
        pulse()->simpleFlush(job.stream, &error);
        return false;
    }
    if (pulse()->simpleDrain(job.stream, &error) < 0)
        return false;
    // Drained means handed to the sink; its own latency has yet to pass before the last
    // sample is heard, and closing the stream earlier could clip it.
    latency = pulse()->simpleGetLatency(job.stream, &error);
    if (latency != pa_usec_t(-1) && latency > 0) {
        const auto rest = std::min<std::chrono::microseconds>(std::chrono::microseconds(latency), kMaxSinkWait);
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, rest, [&] { return quit_ || generation_ != job.generation; });
    }
    return true;
#endif
}
