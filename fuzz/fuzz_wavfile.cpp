// Any bytes as a .wav: parsed from memory, read from a file directly and through
// the cache the sound thread uses, and widened as the player widens them before
// they reach the server. Sanitizers catch bad reads; the checks below catch
// sounds that would reach the server with an impossible layout.

#include "FuzzTempFile.h"

#include "sound/SampleConverter.h"
#include "sound/WavCache.h"
#include "sound/WavFile.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "fuzz_wavfile: %s\n", what);
    std::abort();
}

bool same(const WavFile& a, const WavFile& b)
{
    return a.format() == b.format() && a.rate() == b.rate() && a.channels() == b.channels()
        && a.channelMask() == b.channelMask() && a.samples() == b.samples();
}

unsigned bitCount(std::uint32_t v)
{
    unsigned n = 0;
    for (; v != 0; v &= v - 1)
        ++n;
    return n;
}

void checkLayout(const WavFile& wav, std::size_t inputSize)
{
    if (wav.channels() < 1 || wav.channels() > WavFile::maxChannels)
        fail("channel count out of range");
    if (wav.rate() < WavFile::minRate || wav.rate() > WavFile::maxRate)
        fail("rate out of range");
    if (wav.channelMask() != 0 && bitCount(wav.channelMask()) != wav.channels())
        fail("a speaker mask that does not name one speaker a channel");
    if (wav.samples().size() % wav.bytesPerFrame() != 0)
        fail("samples end in a partial frame");
    // Narrowing 64-bit floats halves the bytes; nothing else adds any.
    if (wav.samples().size() > inputSize)
        fail("more sample bytes than the file has");
    if (wav.durationUs() != std::uint64_t(wav.frameCount()) * 1000000u / wav.rate())
        fail("length disagrees with the frame count");
}

void checkWidening(const WavFile& wav)
{
    const WavFile::SampleFormat format = wav.format();
    const WavFile::SampleFormat out = SampleConverter::outputFormat(format);
    if (!SampleConverter::widens(format)) {
        if (out != format)
            fail("a format that is not widened changed on the way out");
        return;
    }
    if (out != WavFile::SampleFormat::S16LE || WavFile::bytesPerSample(format) != 1)
        fail("a widened format is not one byte in, two out");
    // One chunk's worth is as much as the player converts at a time.
    const std::size_t count = std::min<std::size_t>(wav.samples().size(), 4096);
    std::vector<std::uint8_t> widened(2 * count + 1, 0xA5);
    SampleConverter::toS16LE(format, wav.samples().data(), count, widened.data());
    if (widened[2 * count] != 0xA5)
        fail("widening wrote past its output");
    for (std::size_t i = 0; i < count; ++i) {
        const std::int16_t v = std::int16_t(std::uint16_t(widened[2 * i] | (widened[2 * i + 1] << 8)));
        if (v != SampleConverter::toS16(format, wav.samples()[i]))
            fail("widening a run disagrees with widening one sample");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const std::string path = fuzzing::scratchDir() + "/input.wav";

    const std::optional<WavFile> wav = WavFile::fromBytes(data, size);
    if (wav) {
        checkLayout(*wav, size);
        checkWidening(*wav);
    }

    // The same bytes as a dropped or chosen sound file.
    fuzzing::writeWhole(path, data, size);
    const std::optional<WavFile> fromFile = WavFile::fromFile(path);
    if (fromFile.has_value() != wav.has_value() || (wav && !same(*wav, *fromFile)))
        fail("the file reader disagrees with the reader from memory");

    // A cache of its own per input: the file is rewritten faster than its
    // modification time may change, which a long-lived cache would rightly take
    // for the same file.
    WavCache cache;
    const std::shared_ptr<const WavFile> cached = cache.load(path);
    if ((cached != nullptr) != wav.has_value() || (wav && !same(*wav, *cached)))
        fail("the cache disagrees with the reader");
    if (cached && (cache.load(path) != cached || cache.filesRead() != 1))
        fail("an unchanged file was read again");
    return 0;
}
