#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// A user's file read without ever waiting on it: whatever is dropped on the
// figure or named in the settings may be a FIFO, a device or a folder, and the
// GUI thread must not block on any of them. Only regular files are read;
// anything else is refused at once.
class RegularFile {
public:
    enum class Status {
        Read,       // a regular file, read (perhaps only its first maxBytes)
        CannotOpen, // missing, unreadable, or a name that cannot be opened
        NotRegular, // folder, FIFO, socket, device
        TooLarge,   // readWhole only: longer than its limit
        OutOfMemory,
    };

    // The first maxBytes bytes of the file (all of it when shorter).
    static RegularFile readPrefix(const std::string& path, std::size_t maxBytes);
    // The whole file, or nothing when it is longer than maxBytes.
    static RegularFile readWhole(const std::string& path, std::size_t maxBytes);

    bool ok() const { return status_ == Status::Read; }
    Status status() const { return status_; }
    // The bytes read; empty unless ok().
    const std::string& bytes() const { return bytes_; }
    std::string takeBytes() { return std::move(bytes_); }
    // The file's size when it was opened, which may exceed bytes().size().
    std::uint64_t fileSize() const { return fileSize_; }
    // Its modification time when it was opened, in nanoseconds since the epoch.
    std::int64_t modifiedNs() const { return modifiedNs_; }
    bool truncated() const { return ok() && fileSize_ > bytes_.size(); }

private:
    static RegularFile read(const std::string& path, std::size_t maxBytes, bool whole);

    Status status_ = Status::CannotOpen;
    std::string bytes_;
    std::uint64_t fileSize_ = 0;
    std::int64_t modifiedNs_ = 0;
};

// The file's first byte (0..255); -1 for an empty file or one RegularFile refuses.
int firstByteOf(const std::string& path);
