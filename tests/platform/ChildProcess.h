#pragma once

#include <string>
#include <vector>

#include <sys/types.h>

// A program a test starts (Xvfb, parecord) and must stop again, whatever happens.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // Starts argv[0] (looked up in PATH) with its output sent to logPath (or /dev/null).
    // keepFd stays open in the child, for handshakes such as Xvfb's -displayfd.
    bool start(const std::vector<std::string>& argv, const std::string& logPath = {}, int keepFd = -1);

    // Sends sig, waits up to timeoutMs for the exit, then kills. Returns the wait status,
    // or -1 if nothing was running.
    int stop(int sig = 15, int timeoutMs = 5000);

    pid_t pid() const { return pid_; }
    bool running();

    // Full path of an executable found in PATH, or empty.
    static std::string findInPath(const std::string& name);

private:
    pid_t pid_ = -1;
};
