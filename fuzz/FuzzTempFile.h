#pragma once

// A scratch folder made once per fuzzing process and removed at exit, so the
// file-based entry points can be driven with each input without creating a
// new file every time.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace fuzzing {

inline const std::string& scratchDir()
{
    static const std::string dir = [] {
        // Memory-backed by default: the settings writer syncs every file, which
        // on a disk would cap a fuzzer at a few hundred runs a second.
        const char* base = std::getenv("TMPDIR");
        if (!base || !*base)
            base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string tmpl = std::string(base) + "/tassio-fuzz-XXXXXX";
        if (!mkdtemp(tmpl.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        static std::string removeAtExit;
        removeAtExit = tmpl;
        std::atexit([] {
            std::string cmd = "rm -rf '" + removeAtExit + "'";
            if (std::system(cmd.c_str()) != 0) { }
        });
        return tmpl;
    }();
    return dir;
}

// Replaces the file's content with the bytes. A write that fails is the
// harness's fault, not the code under test's, so it stops the run loudly.
inline void writeWhole(const std::string& path, const uint8_t* data, std::size_t size)
{
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror(path.c_str());
        std::abort();
    }
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            std::perror(path.c_str());
            std::abort();
        }
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
}

} // namespace fuzzing
