#include "platform/MainLoopLock.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>

#include <thread>

#ifdef TASSIO_HAVE_GLIB
#include <glib.h>
#endif

namespace {

bool installedFlag = false;

#ifdef TASSIO_HAVE_GLIB
GPollFunc systemPoll = nullptr;
std::thread::id guiThread;

// GLib calls this outside its own context lock, just for the wait.
gint pollWithoutLock(GPollFD* fds, guint count, gint timeout)
{
    if (timeout == 0 || std::this_thread::get_id() != guiThread)
        return systemPoll(fds, count, timeout);
    MainLoopLock::mutex().unlock();
    const gint ready = systemPoll(fds, count, timeout);
    MainLoopLock::mutex().lock();
    return ready;
}
#endif

} // namespace

std::mutex& MainLoopLock::mutex()
{
    // Never destroyed: a thread may still wait on it while the process exits.
    static std::mutex* lock = new std::mutex;
    return *lock;
}

bool MainLoopLock::installed()
{
    return installedFlag;
}

bool MainLoopLock::install()
{
    if (installedFlag)
        return true;
#ifdef TASSIO_HAVE_GLIB
    QCoreApplication* app = QCoreApplication::instance();
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    if (!app || QThread::currentThread() != app->thread() || !dispatcher
        || !dispatcher->inherits("QEventDispatcherGlib"))
        return false;
    GMainContext* context = g_main_context_default();
    guiThread = std::this_thread::get_id();
    mutex().lock();
    systemPoll = g_main_context_get_poll_func(context);
    g_main_context_set_poll_func(context, pollWithoutLock);
    installedFlag = true;
    return true;
#else
    return false;
#endif
}
