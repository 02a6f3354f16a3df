#include "app/SessionEndWatch.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <unistd.h>

namespace {

// The watch's pipe, for the signal handler; -1 when no watch runs.
std::atomic<int> signalPipe { -1 };

// Bytes on the pipe besides signal numbers.
constexpr unsigned char kStop = 0;
constexpr unsigned char kLookAgain = 255;

extern "C" void onSessionSignal(int signal)
{
    // Only async-signal-safe work here; the watch's thread does the rest.
    const int saved = errno;
    const int fd = signalPipe.load();
    if (fd >= 0) {
        const unsigned char byte = static_cast<unsigned char>(signal);
        [[maybe_unused]] ssize_t n = ::write(fd, &byte, 1);
    }
    errno = saved;
}

std::optional<SessionEndWatch::Reason> reasonFor(unsigned char byte)
{
    switch (byte) {
    case SIGTERM:
        return SessionEndWatch::Reason::Terminated;
    case SIGHUP:
        return SessionEndWatch::Reason::HungUp;
    case SIGINT:
        return SessionEndWatch::Reason::Interrupted;
    default:
        return std::nullopt;
    }
}

} // namespace

SessionEndWatch::SessionEndWatch(Actions actions, int displaySocket, std::chrono::milliseconds grace)
    : actions_(std::move(actions)), grace_(grace)
{
    if (!actions_.exitProcess)
        actions_.exitProcess = [](int status) { ::_exit(status); };
    if (::pipe2(pipe_, O_CLOEXEC) != 0)
        return;
    if (displaySocket >= 0)
        display_ = ::fcntl(displaySocket, F_DUPFD_CLOEXEC, 3);
    signalPipe.store(pipe_[1]);
    struct sigaction action = {};
    action.sa_handler = onSessionSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int s : { SIGTERM, SIGINT, SIGHUP })
        sigaction(s, &action, nullptr);
    thread_ = std::thread(&SessionEndWatch::run, this);
}

SessionEndWatch::~SessionEndWatch()
{
    if (thread_.joinable()) {
        const unsigned char stop = kStop;
        [[maybe_unused]] ssize_t n = ::write(pipe_[1], &stop, 1);
        thread_.join();
    }
    int expected = pipe_[1];
    signalPipe.compare_exchange_strong(expected, -1);
    for (int fd : { pipe_[0], pipe_[1], display_ })
        if (fd >= 0)
            ::close(fd);
}

void SessionEndWatch::guiGone()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        guiGone_ = true;
    }
    // The thread may be polling the display; it drops it before polling again.
    const unsigned char again = kLookAgain;
    if (pipe_[1] >= 0)
        [[maybe_unused]] ssize_t n = ::write(pipe_[1], &again, 1);
}

int SessionEndWatch::exitStatus(Reason reason, bool saved)
{
    return reason == Reason::DisplayLost || !saved ? 1 : 0;
}

void SessionEndWatch::run()
{
    for (;;) {
        bool watchDisplay = false;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            watchDisplay = display_ >= 0 && !guiGone_;
        }
        pollfd fds[2] = { { pipe_[0], POLLIN, 0 }, { display_, POLLRDHUP, 0 } };
        if (::poll(fds, watchDisplay ? 2 : 1, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        std::optional<Reason> reason;
        if (fds[0].revents & POLLIN) {
            unsigned char bytes[16];
            const ssize_t n = ::read(pipe_[0], bytes, sizeof bytes);
            for (ssize_t i = 0; i < n; ++i) {
                if (bytes[i] == kStop)
                    return;
                if (!reason)
                    reason = reasonFor(bytes[i]);
            }
        }
        if (watchDisplay && (fds[1].revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) {
            std::lock_guard<std::mutex> lock(mutex_);
            // Closed on our side by the GUI thread's own ending: not a loss.
            if (guiGone_ || (fds[1].revents & POLLNVAL)) {
                ::close(display_);
                display_ = -1;
            } else if (!reason) {
                reason = Reason::DisplayLost;
            }
        }
        if (reason) {
            endSession(*reason);
            return;
        }
    }
}

void SessionEndWatch::endSession(Reason reason)
{
    const bool saved = actions_.saveSettings ? actions_.saveSettings(reason) : true;
    if (actions_.stopSound)
        actions_.stopSound();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!guiGone_ && actions_.endRun)
            actions_.endRun(reason);
    }
    // The GUI thread ends the process when it gets through; a thread held in
    // a stopped X server never does, and the process ends here instead.
    const auto deadline = std::chrono::steady_clock::now() + grace_;
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            break;
        pollfd fd = { pipe_[0], POLLIN, 0 };
        if (::poll(&fd, 1, static_cast<int>(left.count())) > 0 && (fd.revents & POLLIN)) {
            unsigned char bytes[16];
            const ssize_t n = ::read(pipe_[0], bytes, sizeof bytes);
            for (ssize_t i = 0; i < n; ++i)
                if (bytes[i] == kStop)
                    return;
        }
    }
    actions_.exitProcess(exitStatus(reason, saved));
}
