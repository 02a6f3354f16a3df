#include "sound/WavCache.h"

#include "files/RegularFile.h"

#include <algorithm>
#include <optional>

#include <sys/stat.h>

std::shared_ptr<const WavFile> WavCache::load(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        const std::int64_t modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            const Entry& e = entries_[i];
            if (e.path == path && e.size == static_cast<std::uint64_t>(st.st_size) && e.modifiedNs == modified) {
                std::rotate(entries_.begin(), entries_.begin() + static_cast<std::ptrdiff_t>(i),
                            entries_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return entries_.front().sound;
            }
        }
    }
    // An entry for an older version of the file goes now, before the new one
    // is read: two copies of a large sound need not be held at once.
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.path == path; }),
                   entries_.end());
    ++filesRead_;
    RegularFile file = RegularFile::readWhole(path, WavFile::maxFileBytes);
    if (!file.ok())
        return nullptr;
    std::optional<WavFile> wav =
        WavFile::fromBytes(reinterpret_cast<const std::uint8_t*>(file.bytes().data()), file.bytes().size());
    const std::uint64_t size = file.fileSize();
    const std::int64_t modified = file.modifiedNs();
    file = RegularFile();
    if (!wav)
        return nullptr;
    auto sound = std::make_shared<const WavFile>(std::move(*wav));
    // Keyed by what the file was when it was read: one changed meanwhile is
    // read again next time.
    entries_.insert(entries_.begin(), Entry { path, size, modified, sound });
    while (entries_.size() > capacity_)
        entries_.pop_back();
    return sound;
}
