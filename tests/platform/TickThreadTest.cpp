// The swing's own timer thread and the lock it shares with the GUI thread.
#include "platform/MainLoopLock.h"
#include "platform/TickThread.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The test thread plays the GUI thread: it holds the lock except while it
// "waits for events" (sleeps with the lock released).
struct Gui {
    std::mutex lock;
    std::atomic<int> ticks { 0 };
    std::atomic<int> readableEvents { 0 };
    std::atomic<int> queuedEvents { 0 };
    std::atomic<bool> inside { false };
    std::atomic<int> overlaps { 0 };

    Gui() { lock.lock(); }
    ~Gui() { lock.unlock(); }

    // The events handler drains fd, as the painter drains its connection.
    std::unique_ptr<TickThread> makeThread(int fd = -1)
    {
        return std::make_unique<TickThread>(
            lock, fd,
            [this] {
                if (inside)
                    ++overlaps;
                ++ticks;
            },
            [this, fd](bool readable) {
                ++(readable ? readableEvents : queuedEvents);
                char buffer[16];
                if (readable)
                    [[maybe_unused]] ssize_t n = ::read(fd, buffer, sizeof buffer);
            });
    }

    // Lets the ticks run for a while, then takes the lock back.
    void idle(std::chrono::milliseconds d)
    {
        inside = false;
        lock.unlock();
        std::this_thread::sleep_for(d);
        lock.lock();
        inside = true;
    }

    // Busy with the lock held, as while handling a long event.
    void busy(std::chrono::milliseconds d)
    {
        inside = true;
        std::this_thread::sleep_for(d);
    }
};

} // namespace

TEST(TickThread, TicksOnlyBetweenTheOwnersEventsAndStopsAtOnce)
{
    Gui gui;
    auto t = gui.makeThread();
    ASSERT_TRUE(t->running());
    EXPECT_FALSE(t->active());

    gui.idle(60ms);
    EXPECT_EQ(gui.ticks, 0) << "no tick before start";

    t->start(10ms);
    EXPECT_TRUE(t->active());
    for (int i = 0; i < 10; ++i) {
        gui.idle(25ms);
        gui.busy(15ms);
    }
    EXPECT_GE(gui.ticks, 5) << "ticks came while the owner was idle";
    EXPECT_EQ(gui.overlaps, 0) << "a tick ran while the owner held the lock";
    EXPECT_EQ(gui.queuedEvents, gui.ticks.load()) << "each tick is followed by a look at the events";

    t->stop();
    EXPECT_FALSE(t->active());
    const int stoppedAt = gui.ticks;
    gui.idle(60ms);
    EXPECT_EQ(gui.ticks, stoppedAt) << "a tick after stop()";
}

TEST(TickThread, FirstTickComesOnePeriodAfterStart)
{
    Gui gui;
    auto t = gui.makeThread();
    t->start(10ms);
    gui.idle(40ms);
    ASSERT_GT(gui.ticks, 0);

    // Restarted with a long period: the old schedule is gone.
    t->start(1s);
    const int before = gui.ticks;
    gui.idle(100ms);
    EXPECT_EQ(gui.ticks, before);
    gui.idle(1100ms);
    EXPECT_GE(gui.ticks, before + 1);
}

TEST(TickThread, DropsTheTicksMissedWhileTheOwnerWasBusy)
{
    Gui gui;
    auto t = gui.makeThread();
    t->start(10ms);
    gui.idle(30ms);
    const int before = gui.ticks;
    // Ten periods with the lock held: a timer of the GUI thread would fire
    // once afterwards, not ten times in a row.
    gui.busy(100ms);
    gui.idle(5ms);
    EXPECT_LE(gui.ticks, before + 1);
    EXPECT_EQ(gui.overlaps, 0);
}

TEST(TickThread, ReportsADescriptorThatBecomesReadable)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        Gui gui;
        auto t = gui.makeThread(fds[0]);
        gui.idle(30ms);
        EXPECT_EQ(gui.readableEvents, 0);

        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        gui.idle(50ms);
        EXPECT_EQ(gui.readableEvents, 1);

        // A closed peer leaves the descriptor readable for ever; the thread
        // must not spin on it.
        ::close(fds[1]);
        gui.idle(50ms);
        const int afterClose = gui.readableEvents;
        gui.idle(50ms);
        EXPECT_EQ(gui.readableEvents, afterClose);
        EXPECT_EQ(afterClose, 2);
    }
    ::close(fds[0]);
}

TEST(TickThread, AnAlarmRingsTheTickAndTheClockStandsIn)
{
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    {
        Gui gui;
        auto t = gui.makeThread();
        std::atomic<bool> answer { true };
        std::atomic<int> rings { 0 };
        t->setAlarm(fds[0], [&] {
            char c;
            [[maybe_unused]] ssize_t n = ::read(fds[0], &c, 1);
            ++rings;
            return answer.load();
        });
        t->start(200ms);
        t->armAlarm();
        // Armed: the alarm, not the clock, brings the tick, at once.
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        gui.idle(50ms);
        EXPECT_EQ(rings, 1);
        EXPECT_EQ(gui.ticks, 1);

        // An alarm that is not the tick's changes nothing.
        answer = false;
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        gui.idle(50ms);
        EXPECT_EQ(rings, 2);
        EXPECT_EQ(gui.ticks, 1);

        // Armed again but the alarm never comes: the clock ticks a period late.
        // The clock's next tick is due 400 ms after start; armed, at 600.
        t->armAlarm();
        gui.idle(350ms);
        EXPECT_EQ(gui.ticks, 1) << "the clock waits for an armed alarm";
        gui.idle(250ms);
        EXPECT_EQ(gui.ticks, 2) << "the clock stands in for a missing alarm";

        // Stopped: an alarm rings no tick.
        t->stop();
        answer = true;
        ASSERT_EQ(::write(fds[1], "x", 1), 1);
        gui.idle(50ms);
        EXPECT_EQ(gui.ticks, 2);
        EXPECT_EQ(gui.overlaps, 0);
    }
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(TickThread, DestroyedWhileItWaitsForTheLock)
{
    Gui gui;
    for (int round = 0; round < 20; ++round) {
        auto t = gui.makeThread();
        t->start(1ms);
        // The thread wakes and waits for the lock that we hold.
        gui.busy(3ms);
        t.reset();
        // The destructor hands the lock back held.
        std::atomic<bool> free { false };
        std::thread([&] {
            free = gui.lock.try_lock();
            if (free)
                gui.lock.unlock();
        }).join();
        ASSERT_FALSE(free) << "round " << round;
    }
}

// The real lending: Qt's event loop on GLib lets go of the lock only while it
// waits, so a tick never runs inside a GUI event handler.
TEST(MainLoopLock, TicksRunOnlyWhileTheEventLoopWaits)
{
    int argc = 1;
    char name[] = "tick_test";
    char* argv[] = { name, nullptr };
    QCoreApplication app(argc, argv);
    if (!MainLoopLock::install())
        GTEST_SKIP() << "the event loop does not run on GLib";
    EXPECT_TRUE(MainLoopLock::installed());

    std::atomic<bool> inHandler { false };
    std::atomic<int> ticks { 0 }, overlaps { 0 };
    auto t = std::make_unique<TickThread>(
        MainLoopLock::mutex(), -1,
        [&] {
            overlaps += inHandler ? 1 : 0;
            ++ticks;
        },
        [](bool) {});
    t->start(2ms);

    // Handlers that keep the GUI thread busy for 5 ms out of every 10.
    QTimer busy;
    int handled = 0;
    QObject::connect(&busy, &QTimer::timeout, [&] {
        inHandler = true;
        std::this_thread::sleep_for(5ms);
        inHandler = false;
        ++handled;
    });
    busy.start(10);
    QTimer::singleShot(400, &app, &QCoreApplication::quit);
    app.exec();

    EXPECT_GT(handled, 10);
    EXPECT_GT(ticks, 20);
    EXPECT_EQ(overlaps, 0);
    t.reset();
}
