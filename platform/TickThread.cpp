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

void TickThread::setAlarm(int alarmFd, std::function<bool()> onAlarm)
{
    alarmFd_ = alarmFd;
    onAlarm_ = std::move(onAlarm);
    wake();
}

void TickThread::start(nanoseconds period)
{
    alarmArmed_ = false;
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
    enum { kWake, kEvents, kAlarm };
    pollfd fds[3] = { { wakeFd_, POLLIN, 0 }, { fd_, POLLIN, 0 }, { -1, POLLIN, 0 } };
    while (!quit_) {
        // A negative descriptor is left out of the poll.
        fds[kAlarm].fd = onAlarm_ ? alarmFd_ : -1;
        timespec timeout {};
        const timespec* wait = nullptr;
        if (active_) {
            const auto due = deadline_ + (alarmArmed_ ? period_ : nanoseconds(0));
            const nanoseconds left = std::max(nanoseconds(0), due - steady_clock::now());
            timeout.tv_sec = static_cast<time_t>(duration_cast<seconds>(left).count());
            timeout.tv_nsec = static_cast<long>((left % seconds(1)).count());
            wait = &timeout;
        }
        guard.unlock();
        const int ready = ::ppoll(fds, 3, wait, nullptr);
        if (ready > 0 && (fds[kWake].revents & POLLIN)) {
            std::uint64_t value = 0;
            [[maybe_unused]] ssize_t n = ::read(wakeFd_, &value, sizeof value);
        }
        guard.lock();
        if (quit_)
            break;
        if (ready > 0 && fds[kEvents].fd >= 0 && fds[kEvents].revents != 0) {
            onEvents_(true);
            // A closed connection stays readable for ever; stop watching it.
            if (fds[kEvents].revents & (POLLERR | POLLHUP | POLLNVAL))
                fds[kEvents].fd = -1;
        }
        bool rang = false;
        if (ready > 0 && fds[kAlarm].fd >= 0 && fds[kAlarm].revents != 0) {
            rang = onAlarm_();
            if (fds[kAlarm].revents & (POLLERR | POLLHUP | POLLNVAL)) {
                alarmFd_ = -1;
                alarmArmed_ = false;
            }
        }
        const auto now = steady_clock::now();
        if (active_ && (rang || now >= deadline_ + (alarmArmed_ ? period_ : nanoseconds(0)))) {
            // Behind by a whole period (a busy GUI thread held the lock): the
            // missed ticks are dropped, as a GUI thread's timer drops them.
            alarmArmed_ = false;
            deadline_ += period_;
            if (deadline_ <= now)
                deadline_ = now + period_;
            onTick_();
            // Read too: what came in while the tick ran (an exposure that its
            // paint already covers) is handled now rather than after a wake-up.
            onEvents_(fds[kEvents].fd >= 0);
        }
    }
}
