#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>

#include <climits>
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
    QStringList arguments;
    if (!document.empty())
        arguments << QString::fromStdString(document);
    return QProcess::startDetached(QString::fromStdString(program), arguments);
}
