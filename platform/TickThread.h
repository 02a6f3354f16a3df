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
    // (-1 for none) becomes readable, and onEvents(false) after each tick, so
    // that what the tick itself read from fd is handled too.
    TickThread(std::mutex& lock, int fd, std::function<void()> onTick, std::function<void(bool readable)> onEvents);
    // Stops the thread; lets go of the lock while the thread finishes.
    ~TickThread();

    TickThread(const TickThread&) = delete;
    TickThread& operator=(const TickThread&) = delete;

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
    // All under lock_.
    bool active_ = false;
    bool quit_ = false;
    std::chrono::nanoseconds period_ { 0 };
    std::chrono::steady_clock::time_point deadline_;
    std::thread thread_;
};
