#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#ifdef TASSIO_HAVE_XCB
#include <QGuiApplication>
#include <xcb/xcb.h>
#endif

namespace {

DesktopRect rectOf(const QRect& g)
{
    return { g.x(), g.y(), g.x() + g.width(), g.y() + g.height() };
}

} // namespace

DesktopRect desktopRect()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? rectOf(screen->geometry()) : DesktopRect {};
}

MonitorLayout monitorLayout()
{
    MonitorLayout layout;
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (primary == nullptr)
        return layout;
    // The primary's siblings are the monitors of one desktop; a screen of
    // another X screen (Zaphod mode) is not where the figure can go.
    const QList<QScreen*> siblings = primary->virtualSiblings();
    layout.primary = 0;
    for (const QScreen* screen : siblings) {
        if (screen == primary)
            layout.primary = static_cast<int>(layout.monitors.size());
        layout.monitors.push_back(rectOf(screen->geometry()));
    }
    if (layout.monitors.empty())
        layout.monitors.push_back(rectOf(primary->geometry()));
    return layout;
}

std::string executablePath()
{
    // /proc/self/exe first: it needs no QCoreApplication and survives a changed cwd.
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    if (n > 0 && std::size_t(n) < sizeof buffer)
        return std::string(buffer, std::size_t(n));
    if (QCoreApplication::instance() != nullptr)
        return QCoreApplication::applicationFilePath().toStdString();
    return std::string();
}

QString applicationName()
{
    return QFileInfo(QString::fromStdString(executablePath())).completeBaseName();
}

void showMessage(const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, applicationName(), text, QMessageBox::Ok);
    box.exec();
}

namespace {

// The file to run: a name with a slash as it is, else the first executable
// of that name on PATH, as a shell would find it. Empty when there is none.
std::string programFile(const std::string& program)
{
    if (program.find('/') != std::string::npos)
        return program;
    const char* env = std::getenv("PATH");
    const std::string path = env && *env ? env : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0;;) {
        const std::size_t end = path.find(':', start);
        std::string folder = path.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (folder.empty())
            folder = ".";
        const std::string candidate = folder + '/' + program;
        struct stat st;
        if (::stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

} // namespace

int displayConnectionSocket()
{
#ifdef TASSIO_HAVE_XCB
    auto* app = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    if (app && app->connection())
        return xcb_get_file_descriptor(app->connection());
#endif
    return -1;
}

bool startProgram(const std::string& program, const std::string& document)
{
    if (program.empty())
        return false;
    // The names go to the program as bytes, whatever their encoding: a
    // QString on the way would turn bytes that are not UTF-8 into U+FFFD.
    // Everything the children need is made here, before the fork: after it
    // only async-signal-safe calls are made.
    const std::string file = programFile(program);
    if (file.empty())
        return false;
    std::string argument0 = program;
    std::string argument1 = document;
    char* argv[3] = { argument0.data(), document.empty() ? nullptr : argument1.data(), nullptr };
    int report[2];
    if (::pipe2(report, O_CLOEXEC) != 0)
        return false;

    // Twice forked: the program's parent is gone at once and init reaps it,
    // so it neither ends with us nor is left a zombie.
    const pid_t child = ::fork();
    if (child < 0) {
        ::close(report[0]);
        ::close(report[1]);
        return false;
    }
    if (child == 0) {
        const pid_t grandchild = ::fork();
        if (grandchild == 0) {
            ::setsid();
            // Our handlers and blocked signals are not the program's.
            sigset_t none;
            sigemptyset(&none);
            ::sigprocmask(SIG_SETMASK, &none, nullptr);
            ::signal(SIGPIPE, SIG_DFL);
            // Descriptors we opened without close-on-exec (the X connection,
            // sound, the instance lock) stay ours.
#ifdef CLOSE_RANGE_CLOEXEC
            ::close_range(3, ~0U, CLOSE_RANGE_CLOEXEC);
#endif
            ::execv(file.c_str(), argv);
            const int error = errno;
            (void)!::write(report[1], &error, sizeof error);
            ::_exit(127);
        }
        ::_exit(grandchild < 0 ? 1 : 0);
    }
    ::close(report[1]);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) { }
    // The pipe closes unread when the program has started (close-on-exec).
    int error = 0;
    ssize_t n;
    while ((n = ::read(report[0], &error, sizeof error)) < 0 && errno == EINTR) { }
    ::close(report[0]);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 && n == 0;
}
