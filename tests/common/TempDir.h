// A folder of one test's own, and the few file helpers the file tests share.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace testfs {

// Made under $TMPDIR (or /tmp) and removed with all it holds when the test
// ends, even what the test made read-only.
class TempDir {
public:
    explicit TempDir(const std::string& tag = "test")
    {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/tassio-" + tag + "-XXXXXX";
        if (::mkdtemp(pattern.data()))
            path_ = pattern;
        else
            ADD_FAILURE() << "could not make a folder like " << pattern;
    }
    ~TempDir()
    {
        if (path_.empty())
            return;
        const std::string cmd = "chmod -R u+rwx '" + path_ + "' 2>/dev/null; rm -rf '" + path_ + "'";
        if (std::system(cmd.c_str()) != 0)
            ADD_FAILURE() << "could not remove " << path_;
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    bool ok() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    // The path of `name` inside the folder.
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    // Writes `bytes` to `name` inside the folder; returns its path.
    std::string write(const std::string& name, const std::string& bytes) const;
    // The names in the folder, hidden ones too, sorted, one a line.
    std::string listing() const;

private:
    std::string path_;
};

inline void writeBytes(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

// The permission bits, or 0 where the path cannot be read.
inline mode_t modeOf(const std::string& path)
{
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

inline bool isLink(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

inline std::string TempDir::write(const std::string& name, const std::string& bytes) const
{
    const std::string p = file(name);
    writeBytes(p, bytes);
    return p;
}

inline std::string TempDir::listing() const
{
    std::string out;
    FILE* ls = ::popen(("LC_ALL=C ls -A '" + path_ + "'").c_str(), "r");
    if (!ls)
        return "ls failed";
    char buf[256];
    while (std::fgets(buf, sizeof buf, ls))
        out += buf;
    ::pclose(ls);
    return out;
}

} // namespace testfs
