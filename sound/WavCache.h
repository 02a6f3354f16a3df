#pragma once

#include "sound/WavFile.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Sounds read lately, kept while their files stay the same, so that a sound
// played again and again (the drop sound, once for every dropped file) is read
// and decoded once. A file counts as the same while its path, size and
// modification time are. Used by one thread at a time.
class WavCache {
public:
    explicit WavCache(std::size_t capacity = 2) : capacity_(capacity) {}

    // The sound in the file at path: the kept one when the file has not
    // changed, else read anew and kept in place of the one used longest ago.
    // Nothing for a file that is not a playable sound (nothing is kept then).
    std::shared_ptr<const WavFile> load(const std::string& path);

    void clear() { entries_.clear(); }
    bool empty() const { return entries_.empty(); }
    // How many files load() has read since the cache was made.
    std::uint64_t filesRead() const { return filesRead_.load(); }

private:
    struct Entry {
        std::string path;
        std::uint64_t size;
        std::int64_t modifiedNs;
        std::shared_ptr<const WavFile> sound;
    };
    std::size_t capacity_;
    // The most recently used first.
    std::vector<Entry> entries_;
    std::atomic<std::uint64_t> filesRead_ { 0 };
};
