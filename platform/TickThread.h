#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

// A periodic timer that fires on a thread of its own, so that a tick costs one
// wake-up of that thread and nothing else: no event loop to run, no other
// thread to hand the tick to.
//
// Every callback runs with `lock` held. The GUI thread holds the same lock
// whenever it is not waiting for events (see MainLoopLock), so a callback runs
// exactly where a timer event of the GUI thread would have run: between two
// of its events, never during one. The owner calls start(), stop(), active()
// and the destructor with the lock held.
class TickThread {
public:
    // onTick runs every period once started. onEvents(true) runs when fd
    // (-1 for none) becomes readable, and again after each tick, so that what
    // came in meanwhile is handled without another wake-up (onEvents(false)
    // when fd is gone).
    TickThread(std::mutex& lock, int fd, std::function<void()> onTick, std::function<void(bool readable)> onEvents);
    // Stops the thread; lets go of the lock while the thread finishes.
    ~TickThread();

    TickThread(const TickThread&) = delete;
    TickThread& operator=(const TickThread&) = delete;

    // An alarm that rings the ticks instead of the thread's own clock: when
    // alarmFd becomes readable, onAlarm runs, and the tick runs at once if it
    // returns true. Set it before the first start.
    void setAlarm(int alarmFd, std::function<bool()> onAlarm);
    // The next tick is to come from the alarm: the thread's own clock waits a
    // period longer, standing in only for an alarm that fails to ring.
    void armAlarm() { alarmArmed_ = true; }

    // (Re)starts the period: the first tick comes one period from now.
    void start(std::chrono::nanoseconds period);
    // No tick runs after this returns (until the next start).
    void stop() { active_ = false; }
    bool active() const { return active_; }
    // Whether the thread could be started at all.
    bool running() const { return thread_.joinable(); }

private:
    void run();
    void wake();

    std::mutex& lock_;
    int fd_;
    int wakeFd_ = -1;
    std::function<void()> onTick_;
    std::function<void(bool)> onEvents_;
    int alarmFd_ = -1;
    std::function<bool()> onAlarm_;
    // All under lock_.
    bool active_ = false;
    bool alarmArmed_ = false;
    bool quit_ = false;
    std::chrono::nanoseconds period_ { 0 };
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};
