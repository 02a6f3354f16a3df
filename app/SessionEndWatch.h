#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

// Ends the run when the session ends: SIGTERM, SIGHUP, SIGINT, or the display
// connection closed from the far side. A thread of its own hears them, because
// the GUI thread may be held where it cannot: in a dialog's or a box's loop,
// waiting for the exit sound, or in an X server that has stopped answering.
// It then, in this order and without any X request: saves the settings, stops
// the sound, asks the GUI thread to close everything and end the run, and
// ends the process itself when that has not happened within the grace time.
class SessionEndWatch {
public:
    enum class Reason { Terminated, HungUp, Interrupted, DisplayLost };

    struct Actions {
        // Writes the settings; true when they were saved. Called first, with
        // the reason the session ends.
        std::function<bool(Reason)> saveSettings;
        std::function<void()> stopSound;
        // Asks the GUI thread to end the run; must return at once.
        std::function<void(Reason)> endRun;
        // Ends the process with this status without running anything more of it.
        std::function<void(int status)> exitProcess;
    };

    // Replaces the handlers of SIGTERM, SIGHUP and SIGINT and starts watching
    // them and, when displaySocket >= 0, that socket (a copy of it is watched,
    // so the caller may close its own at any time).
    SessionEndWatch(Actions actions, int displaySocket, std::chrono::milliseconds grace);
    // Stops the thread, waiting for it (tests; the program keeps its watch for
    // the whole process). The signal handlers stay.
    ~SessionEndWatch();
    SessionEndWatch(const SessionEndWatch&) = delete;
    SessionEndWatch& operator=(const SessionEndWatch&) = delete;

    // The GUI thread is ending the run on its own: endRun is not called from
    // now on, and the display connection is no longer watched, since the GUI
    // thread closes it on its way out.
    void guiGone();

    // The process's exit status: as the program has always ended, 0, or 1 when
    // the settings could not be saved; 1 when the display went away, as the
    // toolkit ends a program that has lost its display.
    static int exitStatus(Reason reason, bool saved);

private:
    void run();
    void endSession(Reason reason);

    Actions actions_;
    std::chrono::milliseconds grace_;
    int pipe_[2] = { -1, -1 };
    int display_ = -1;
    std::mutex mutex_;
    bool guiGone_ = false;
    std::thread thread_;
};
