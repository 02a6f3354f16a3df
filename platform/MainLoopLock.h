#pragma once

#include <mutex>

// One lock for the state the GUI thread shares with the tick thread. The GUI
// thread holds it at all times except while its event loop waits for events,
// so code on the GUI thread needs no locking of its own, and another thread
// that takes the lock runs between two GUI events, as a timer event would.
namespace MainLoopLock {

// Call on the GUI thread once its application object exists. False (and
// nothing changes) unless the GUI thread waits in GLib's default main context,
// the only wait that can let go of the lock.
bool install();
bool installed();

std::mutex& mutex();

} // namespace MainLoopLock
