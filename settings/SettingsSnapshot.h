#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

struct AppSettings;

// The settings file's text as of the last publish(), for whichever thread ends
// the run. A session that ends (a signal, the display gone) must not wait for
// the GUI thread, which may be held in a dialog or in an X server that no
// longer answers: it writes what the GUI thread last published.
//
// publish() belongs to one thread (the GUI thread) and is cheap enough for
// every turn of its event loop: it formats one line, and the picture lines
// only when a list has changed. Everything else may be called from any thread.
class SettingsSnapshot {
public:
    void publish(const AppSettings& settings);

    // The text last published; empty before the first publish().
    std::string text() const;

    // Writes the last published text to path (making its folder first), the
    // first time it is called in the run; later calls, from any thread, wait
    // for that write and return its result without writing again. Before any
    // publish() nothing is written, and the result is false.
    // onFailure runs once, in the caller that wrote, when the write failed.
    bool saveOnce(const std::string& path, const std::function<void()>& onFailure = {});
    // Whether saveOnce has been called (and finished) in this run.
    bool saved() const;

private:
    // The publishing thread's own: what it last published.
    std::string lastHeader_;
    std::uint64_t pathsRevision_ = 0;
    std::uint64_t namesRevision_ = 0;
    bool published_ = false;

    mutable std::mutex mutex_;
    bool hasText_ = false;
    std::string header_;
    // Shared, never changed once made: a list of 100 000 pictures is copied
    // only when it changes, not at every publish.
    std::shared_ptr<const std::string> pictures_;

    mutable std::mutex saveMutex_;
    std::optional<bool> saveResult_;
};
