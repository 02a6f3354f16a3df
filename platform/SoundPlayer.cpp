#include "platform/SoundPlayer.h"

#include "platform/SoundSink.h"
#include "sound/SampleConverter.h"
#include "sound/WavCache.h"
#include "sound/WavFile.h"

#include <algorithm>

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

struct SoundPlayer::Job {
    std::uint64_t generation;
    std::string path;
    Clock::time_point requested;
    std::shared_ptr<const WavFile> sound;
    std::unique_ptr<SoundStream> stream;

    Job(std::uint64_t g, std::string p, Clock::time_point r) : generation(g), path(std::move(p)), requested(r) {}
};

SoundPlayer& SoundPlayer::instance()
{
    static SoundPlayer* player = new SoundPlayer(makeSystemSoundSink(), Limits());
    return *player;
}

SoundPlayer::SoundPlayer(std::unique_ptr<SoundSink> sink, const Limits& limits)
    : sink_(std::move(sink)), limits_(limits), cache_(std::make_unique<WavCache>())
{
}

SoundPlayer::~SoundPlayer()
{
    shutdown();
    // A thread that shutdown() left behind still uses this object until it ends.
    std::unique_lock<std::mutex> lock(mutex_);
    done_.wait(lock, [&] { return !threadStarted_ || threadEnded_; });
}

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
            : taken_ == generation                              ? submitted + limits_.loadWait
                                                                : submitted + limits_.startLimit;
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
            ended = done_.wait_for(lock, limits_.shutdownWait, [&] { return threadEnded_; });
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
    if (sink_->silent())
        return 0;
    std::unique_ptr<Job> replaced;
    std::uint64_t generation = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (quit_ || Clock::now() < noServerUntil_)
            return 0;
        generation = ++generation_;
        replaced = std::move(pending_);
        pending_ = std::make_unique<Job>(generation, path, Clock::now());
        if (!threadStarted_) {
            thread_ = std::thread(&SoundPlayer::run, this);
            threadStarted_ = true;
        }
    }
    wake_.notify_all();
    done_.notify_all();
    return generation;
}

bool SoundPlayer::cutOff(std::uint64_t generation)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return quit_ || generation_ != generation;
}

bool SoundPlayer::cutOffWithin(std::uint64_t generation, std::chrono::microseconds wait)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return wake_.wait_for(lock, wait, [&] { return quit_ || generation_ != generation; });
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
            if (!cache_->empty() && !wake_.wait_until(lock, idleSince + limits_.keepSounds, ready)) {
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
    // Notified under the lock: a destructor waiting for this may free the player
    // as soon as it can take the lock.
    std::lock_guard<std::mutex> lock(mutex_);
    threadEnded_ = true;
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
            playDeadline_ = Clock::now() + std::chrono::microseconds(job.sound->durationUs()) + limits_.syncGrace;
        }
    }
    done_.notify_all();
}

bool SoundPlayer::open(Job& job)
{
    if (!sink_->load()) {
        std::lock_guard<std::mutex> lock(mutex_);
        noServerUntil_ = Clock::time_point::max();
        return false;
    }
    // Asked for too long ago: the thread was held up by an earlier sound.
    if (Clock::now() - job.requested > limits_.startLimit || cutOff(job.generation))
        return false;
    SoundSink::Failure why = SoundSink::Failure::Sound;
    job.stream = sink_->open(*job.sound, why);
    if (job.stream == nullptr) {
        if (why == SoundSink::Failure::Server) {
            std::lock_guard<std::mutex> lock(mutex_);
            noServerUntil_ = Clock::now() + limits_.noServerRetryDelay;
        }
        return false;
    }
    // Opened, but too late to belong to what asked for it: dropped, as with no server.
    return Clock::now() - job.requested <= limits_.startLimit;
}

bool SoundPlayer::play(Job& job)
{
    SoundStream& stream = *job.stream;
    const std::vector<std::uint8_t>& bytes = job.sound->samples();
    const WavFile::SampleFormat format = job.sound->format();
    const bool widen = SampleConverter::widens(format);
    const std::size_t frameBytes = job.sound->bytesPerFrame();
    // Between two chunks the thread looks for a newer sound to cut over to.
    const std::size_t chunk =
        std::max<std::size_t>(1, std::size_t(job.sound->rate()) * SoundSink::chunkMs / 1000) * frameBytes;
    std::vector<std::uint8_t> widened(widen ? 2 * chunk : 0);

    for (std::size_t offset = 0; offset < bytes.size();) {
        if (cutOff(job.generation)) {
            stream.flush();
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
        if (!stream.write(data, size))
            return false;
        offset += n;
    }
    // The tail still queued in the server plays out here; a drain cannot be
    // interrupted, so wait on the latency while watching for a newer sound, and drain
    // only the last few milliseconds.
    std::optional<std::chrono::microseconds> latency = stream.latency();
    const Clock::time_point deadline =
        Clock::now() + latency.value_or(std::chrono::microseconds(0)) + limits_.tailSlack;
    while (latency && *latency > limits_.drainBelow && Clock::now() < deadline) {
        const auto nap = std::min<std::chrono::microseconds>(*latency - limits_.drainBelow / 2,
                                                             std::chrono::milliseconds(50));
        if (cutOffWithin(job.generation, nap)) {
            stream.flush();
            return false;
        }
        latency = stream.latency();
    }
    if (cutOff(job.generation)) {
        stream.flush();
        return false;
    }
    if (!stream.drain())
        return false;
    // Drained means handed to the output; its own latency has yet to pass before the
    // last sample is heard, and closing the stream earlier could clip it.
    latency = stream.latency();
    if (latency && latency->count() > 0)
        cutOffWithin(job.generation, std::min(*latency, limits_.maxSinkWait));
    return true;
}
