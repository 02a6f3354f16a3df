#include "AllocationProbe.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <new>

// Every allocation carries a small header with its size and whether it was
// counted, so the live total can be kept without a table.
namespace {

constexpr std::size_t kHeader = alignof(std::max_align_t);
static_assert(kHeader >= 2 * sizeof(std::size_t), "the header holds two words");

std::atomic<int> gProbes { 0 };
std::atomic<std::size_t> gLargest { 0 };
std::atomic<std::size_t> gLive { 0 };
std::atomic<std::size_t> gPeak { 0 };

void raise(std::atomic<std::size_t>& to, std::size_t value)
{
    std::size_t seen = to.load();
    while (value > seen && !to.compare_exchange_weak(seen, value)) { }
}

void* allocate(std::size_t size) noexcept
{
    if (size > SIZE_MAX - kHeader)
        return nullptr;
    auto* base = static_cast<unsigned char*>(std::malloc(size + kHeader));
    if (!base)
        return nullptr;
    auto* header = reinterpret_cast<std::size_t*>(base);
    header[0] = size;
    header[1] = gProbes.load() > 0;
    if (header[1]) {
        raise(gLargest, size);
        raise(gPeak, gLive.fetch_add(size) + size);
    }
    return base + kHeader;
}

void release(void* p) noexcept
{
    if (!p)
        return;
    auto* base = static_cast<unsigned char*>(p) - kHeader;
    const auto* header = reinterpret_cast<const std::size_t*>(base);
    if (header[1]) {
        // A probe restarted since may already have cleared the total.
        std::size_t live = gLive.load();
        while (!gLive.compare_exchange_weak(live, live >= header[0] ? live - header[0] : 0)) { }
    }
    std::free(base);
}

void* allocateOrThrow(std::size_t size)
{
    if (void* p = allocate(size))
        return p;
    throw std::bad_alloc();
}

} // namespace

AllocationProbe::AllocationProbe()
{
    if (gProbes.fetch_add(1) == 0) {
        gLargest = 0;
        gLive = 0;
        gPeak = 0;
    }
}

AllocationProbe::~AllocationProbe() { gProbes.fetch_sub(1); }
std::size_t AllocationProbe::largest() const { return gLargest.load(); }
std::size_t AllocationProbe::peak() const { return gPeak.load(); }

void* operator new(std::size_t size) { return allocateOrThrow(size); }
void* operator new[](std::size_t size) { return allocateOrThrow(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept { return allocate(size); }
void operator delete(void* p) noexcept { release(p); }
void operator delete[](void* p) noexcept { release(p); }
void operator delete(void* p, std::size_t) noexcept { release(p); }
void operator delete[](void* p, std::size_t) noexcept { release(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { release(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { release(p); }
