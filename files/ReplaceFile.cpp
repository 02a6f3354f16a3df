#include "files/ReplaceFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr char kTempInfix[] = ".tmp-";
constexpr std::size_t kTempRandom = 6; // mkstemp's XXXXXX

bool isAlnum(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

} // namespace

std::string linkTarget(const std::string& path)
{
    std::string current = path;
    // As many links as the system itself follows before giving up (ELOOP).
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
            return current;
        std::string link(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : PATH_MAX, '\0');
        const ssize_t n = ::readlink(current.c_str(), link.data(), link.size());
        if (n <= 0 || static_cast<std::size_t>(n) >= link.size())
            return current;
        link.resize(static_cast<std::size_t>(n));
        if (link[0] == '/') {
            current = link;
        } else {
            const std::size_t slash = current.rfind('/');
            current = slash == std::string::npos ? link : current.substr(0, slash + 1) + link;
        }
    }
    return current;
}

bool isReadOnlyFile(const std::string& path)
{
    struct stat st;
    if (::stat(path.c_str(), &st) != 0)
        return false;
    // Root may write any file; a file nobody may write was made read-only on purpose.
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(path.c_str(), W_OK) != 0;
}

bool replaceFile(const std::string& path, const std::string& bytes)
{
    // A link is written through: its target is replaced and the link stays.
    const std::string target = linkTarget(path);
    struct stat old;
    const bool existed = ::stat(target.c_str(), &old) == 0;
    if (existed && (!S_ISREG(old.st_mode) || isReadOnlyFile(target)))
        return false;

    // Write beside the target, then rename over it, so the old file survives
    // anything that goes wrong before the rename.
    std::string tmp = target + kTempInfix + std::string(kTempRandom, 'X');
    int fd = mkstemp(tmp.data());
    if (fd < 0)
        return false;
    if (existed) {
        // The new file keeps the old one's owner (where we may give it) and mode.
        if (fchown(fd, old.st_uid, old.st_gid) != 0)
            (void)!fchown(fd, static_cast<uid_t>(-1), old.st_gid);
        fchmod(fd, old.st_mode & 07777);
    } else {
        mode_t mask = umask(0);
        umask(mask);
        fchmod(fd, 0666 & ~mask);
    }
    bool ok = true;
    const char* p = bytes.data();
    std::size_t left = bytes.size();
    while (ok && left > 0) {
        ssize_t n = ::write(fd, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        if (ok) {
            p += n;
            left -= static_cast<std::size_t>(n);
        }
    }
    ok = ok && fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && std::rename(tmp.c_str(), target.c_str()) == 0;
    if (!ok)
        ::unlink(tmp.c_str());
    return ok;
}

bool isReplaceTemporary(const std::string& fileName, const std::string& name)
{
    const std::size_t infix = sizeof kTempInfix - 1;
    if (fileName.size() != name.size() + infix + kTempRandom || fileName.compare(0, name.size(), name) != 0
        || fileName.compare(name.size(), infix, kTempInfix) != 0)
        return false;
    for (std::size_t i = name.size() + infix; i < fileName.size(); ++i)
        if (!isAlnum(fileName[i]))
            return false;
    return true;
}
