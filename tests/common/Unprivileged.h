// Runs a check as an ordinary user in a forked child. Root passes every
// permission check, so a test of what a refused open or write does proves
// nothing as root; CI runs as root, so such checks drop to nobody:nogroup
// there instead of skipping.
#pragma once

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

namespace unprivileged {

struct Ids {
    uid_t uid;
    gid_t gid;
};

// Who the check runs as: nobody:nogroup for root, the caller otherwise.
// Files the check needs are chown-ed to these first.
inline Ids ids()
{
    if (::geteuid() != 0)
        return { ::geteuid(), ::getegid() };
    const passwd* pw = ::getpwnam("nobody");
    const group* gr = ::getgrnam("nogroup");
    const uid_t uid = pw ? pw->pw_uid : 65534;
    return { uid, gr ? gr->gr_gid : (pw ? pw->pw_gid : 65534) };
}

// Exit statuses of the child: the check passed, found a fault, or could not
// become an ordinary user (a user namespace without nobody in it, say).
enum : int { kPassed = 0, kFailed = 1, kCannotDrop = 77 };

// In the child: becomes ids() and makes sure that took, capabilities and
// supplementary groups included. Empty on success, else why not.
inline std::string dropPrivileges()
{
    if (::geteuid() != 0)
        return {};
    const Ids to = ids();
    if (::setgroups(0, nullptr) != 0)
        return std::string("setgroups: ") + std::strerror(errno);
    if (::setresgid(to.gid, to.gid, to.gid) != 0)
        return std::string("setresgid: ") + std::strerror(errno);
    if (::setresuid(to.uid, to.uid, to.uid) != 0)
        return std::string("setresuid: ") + std::strerror(errno);
    uid_t r, e, s;
    if (::getresuid(&r, &e, &s) != 0 || r != to.uid || e != to.uid || s != to.uid)
        return "still root after setresuid";
    if (::getegid() != to.gid || ::getgroups(0, nullptr) != 0)
        return "groups not dropped";
    // Without /proc (a bare chroot) the uid check above has to do.
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("CapEff:", 0) == 0 && line.find_first_not_of("0\t ", 7) != std::string::npos)
            return "capabilities kept: " + line;
    }
    return {};
}

struct Outcome {
    int status = kFailed;
    std::string message; // the fault found, or why the check could not run
};

// Forks; the child drops to ids() and runs check, which returns an empty
// string when all is well and otherwise says what was wrong. Nothing the
// child does reaches this process but its message and exit status.
inline Outcome run(const std::function<std::string()>& check)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return { kFailed, std::string("pipe: ") + std::strerror(errno) };
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(fds[0]);
        ::close(fds[1]);
        return { kFailed, std::string("fork: ") + std::strerror(errno) };
    }
    if (pid == 0) {
        ::close(fds[0]);
        std::string message = dropPrivileges();
        int code = kCannotDrop;
        if (message.empty()) {
            message = check();
            code = message.empty() ? kPassed : kFailed;
        }
        (void)!::write(fds[1], message.data(), message.size());
        ::_exit(code);
    }
    ::close(fds[1]);
    Outcome out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            break;
        out.message.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        out.status = WEXITSTATUS(status);
        if (out.status != kPassed && out.status != kCannotDrop && out.message.empty())
            out.message = "the child exited with status " + std::to_string(out.status);
    } else {
        out.status = kFailed;
        out.message = "the child was killed by signal " + std::to_string(WTERMSIG(status));
    }
    return out;
}

} // namespace unprivileged

// Runs check (a callable returning std::string) as an ordinary user; the
// test fails with the check's message, or is skipped when no ordinary user
// can be had here.
#define EXPECT_AS_ORDINARY_USER(check)                                                       \
    do {                                                                                     \
        const unprivileged::Outcome outcome_ = unprivileged::run(check);                     \
        if (outcome_.status == unprivileged::kCannotDrop)                                    \
            GTEST_SKIP() << "cannot run as an ordinary user here: " << outcome_.message;     \
        EXPECT_EQ(outcome_.status, unprivileged::kPassed) << outcome_.message;               \
    } while (0)
