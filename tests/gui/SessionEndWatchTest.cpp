// The session's end, heard off the GUI thread: what is done, in which order,
// with which exit status, and that a GUI thread that ends on its own is left
// alone.
#include "app/SessionEndWatch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Reason = SessionEndWatch::Reason;

// Records the actions as the watch's thread takes them.
struct Recorder {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> steps;
    int status = -1;
    Clock::time_point asked, ended;
    bool saveResult = true;

    void note(const std::string& step)
    {
        std::lock_guard<std::mutex> lock(mutex);
        steps.push_back(step);
        changed.notify_all();
    }

    SessionEndWatch::Actions actions()
    {
        SessionEndWatch::Actions a;
        a.saveSettings = [this](Reason) {
            note("save");
            return saveResult;
        };
        a.stopSound = [this] { note("stop sound"); };
        a.endRun = [this](Reason reason) {
            asked = Clock::now();
            note(reason == Reason::Terminated ? "end run: terminated"
                     : reason == Reason::HungUp ? "end run: hung up"
                     : reason == Reason::Interrupted ? "end run: interrupted"
                                                     : "end run: display lost");
        };
        a.exitProcess = [this](int s) {
            ended = Clock::now();
            std::lock_guard<std::mutex> lock(mutex);
            status = s;
            steps.push_back("exit");
            changed.notify_all();
        };
        return a;
    }

    bool waitExit(std::chrono::milliseconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, timeout, [&] { return status >= 0; });
    }
};

TEST(SessionEndWatch, SavesStopsAsksThenEndsTheProcessAfterTheGrace)
{
    const struct {
        const char* what;
        int signal; // 0: the display's far side closes
        bool saves;
        const char* endRun;
        int status;
    } cases[] = {
        { "SIGTERM", SIGTERM, true, "end run: terminated", 0 },
        { "SIGHUP", SIGHUP, true, "end run: hung up", 0 },
        { "SIGINT", SIGINT, true, "end run: interrupted", 0 },
        { "SIGTERM, settings not saved", SIGTERM, false, "end run: terminated", 1 },
        { "display gone", 0, true, "end run: display lost", 1 },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        int display[2];
        ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, display), 0);
        Recorder rec;
        rec.saveResult = c.saves;
        {
            SessionEndWatch watch(rec.actions(), display[0], 200ms);
            // The watch keeps a copy of the socket: the caller may close its own.
            ::close(display[0]);
            if (c.signal)
                ::raise(c.signal);
            else
                ::close(display[1]);
            ASSERT_TRUE(rec.waitExit(5s));
        }
        if (c.signal)
            ::close(display[1]);
        EXPECT_EQ(rec.steps, (std::vector<std::string> { "save", "stop sound", c.endRun, "exit" }));
        EXPECT_EQ(rec.status, c.status);
        EXPECT_GE(rec.ended - rec.asked, 200ms) << "the GUI thread was not given its time";
    }
}

TEST(SessionEndWatch, AGuiThatEndsOnItsOwnIsLeftAlone)
{
    int display[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, display), 0);
    Recorder rec;
    {
        SessionEndWatch watch(rec.actions(), display[0], 100ms);
        ::close(display[0]);
        watch.guiGone();
        // The application closes its display connection on its way out: no loss.
        ::shutdown(display[1], SHUT_RDWR);
        ::close(display[1]);
        EXPECT_FALSE(rec.waitExit(300ms));
        EXPECT_TRUE(rec.steps.empty());
        // A signal now still saves (the settings may not be written yet) and
        // ends the process, but asks nothing of the GUI thread.
        ::raise(SIGTERM);
        ASSERT_TRUE(rec.waitExit(5s));
    }
    EXPECT_EQ(rec.steps, (std::vector<std::string> { "save", "stop sound", "exit" }));
    EXPECT_EQ(rec.status, 0);
}

} // namespace
