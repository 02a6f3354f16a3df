#include "files/RegularFile.h"

#include <cerrno>
#include <fcntl.h>
#include <new>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

} // namespace

RegularFile RegularFile::readPrefix(const std::string& path, std::size_t maxBytes)
{
    return read(path, maxBytes, false);
}

RegularFile RegularFile::readWhole(const std::string& path, std::size_t maxBytes)
{
    return read(path, maxBytes, true);
}

RegularFile RegularFile::read(const std::string& path, std::size_t maxBytes, bool whole)
{
    RegularFile file;
    // O_NONBLOCK: opening a FIFO without a writer (or a tape, a modem line)
    // returns at once instead of waiting; it is refused just below. O_NOCTTY:
    // a terminal named by a drop must not become ours.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return file;
    struct stat st;
    if (::fstat(fd.get(), &st) != 0)
        return file;
    if (!S_ISREG(st.st_mode) || st.st_size < 0) {
        file.status_ = Status::NotRegular;
        return file;
    }
    file.fileSize_ = static_cast<std::uint64_t>(st.st_size);
    file.modifiedNs_ = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    if (whole && file.fileSize_ > maxBytes) {
        file.status_ = Status::TooLarge;
        return file;
    }
    const std::size_t want = file.fileSize_ < maxBytes ? static_cast<std::size_t>(file.fileSize_) : maxBytes;
    try {
        file.bytes_.resize(want);
    } catch (const std::bad_alloc&) {
        file.status_ = Status::OutOfMemory;
        return file;
    } catch (const std::length_error&) {
        file.status_ = Status::OutOfMemory;
        return file;
    }
    std::size_t got = 0;
    while (got < want) {
        const ssize_t n = ::read(fd.get(), &file.bytes_[got], want - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break; // a file that shrank meanwhile is taken as what was there
        got += static_cast<std::size_t>(n);
    }
    file.bytes_.resize(got);
    file.status_ = Status::Read;
    return file;
}

int firstByteOf(const std::string& path)
{
    const RegularFile file = RegularFile::readPrefix(path, 1);
    if (!file.ok() || file.bytes().empty())
        return -1;
    return static_cast<unsigned char>(file.bytes()[0]);
}
