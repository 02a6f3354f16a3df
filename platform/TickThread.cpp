#include "platform/TickThread.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <system_error>

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

using namespace std::chrono;

TickThread::TickThread(std::mutex& lock, int fd, std::function<void()> onTick, std::function<void(bool)> onEvents)
    : lock_(lock)
    , fd_(fd)
    , onTick_(std::move(onTick))
    , onEvents_(std::move(onEvents))
{
    wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd_ < 0)
        return;
    // Signals stay with the GUI thread, which knows what to do with them.
    sigset_t all, previous;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &previous);
    try {
        thread_ = std::thread(&TickThread::run, this);
    } catch (const std::system_error&) {
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (thread_.joinable())
        pthread_setname_np(thread_.native_handle(), "tassio-tick");
}

TickThread::~TickThread()
{
    if (thread_.joinable()) {
        quit_ = true;
        wake();
        // The thread may be waiting for the lock that we hold.
        lock_.unlock();
        thread_.join();
        lock_.lock();
    }
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void TickThread::start(nanoseconds period)
{
    period_ = std::max(period, nanoseconds(milliseconds(1)));
    deadline_ = steady_clock::now() + period_;
    active_ = true;
    wake();
}

void TickThread::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(wakeFd_, &one, sizeof one);
}

void TickThread::run()
{
    std::unique_lock<std::mutex> guard(lock_);
    pollfd fds[2] = { { wakeFd_, POLLIN, 0 }, { fd_, POLLIN, 0 } };
    nfds_t count = fd_ >= 0 ? 2 : 1;
    while (!quit_) {
        timespec timeout {};
        const timespec* wait = nullptr;
        if (active_) {
            const nanoseconds left = std::max(nanoseconds(0), deadline_ - steady_clock::now());
            timeout.tv_sec = static_cast<time_t>(duration_cast<seconds>(left).count());
            timeout.tv_nsec = static_cast<long>((left % seconds(1)).count());
            wait = &timeout;
        }
        guard.unlock();
        const int ready = ::ppoll(fds, count, wait, nullptr);
        if (ready > 0 && (fds[0].revents & POLLIN)) {
            std::uint64_t value = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
        }
        guard.lock();
        if (quit_)
            break;
        if (ready > 0 && count == 2 && fds[1].revents != 0) {
            onEvents_(true);
            // A closed connection stays readable for ever; stop watching it.
            if (fds[1].revents & (POLLERR | POLLHUP | POLLNVAL))
                count = 1;
        }
        if (active_ && steady_clock::now() >= deadline_) {
            // Behind by a whole period (a busy GUI thread held the lock): the
            // missed ticks are dropped, as a GUI thread's timer drops them.
            deadline_ += period_;
            const auto now = steady_clock::now();
            if (deadline_ <= now)
                deadline_ = now + period_;
            onTick_();
            onEvents_(false);
        }
    }
}
