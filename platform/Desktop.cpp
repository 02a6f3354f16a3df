#include "platform/Desktop.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>

#include <climits>
#include <unistd.h>

DesktopRect desktopRect()
{
    DesktopRect r;
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        return r;
    const QRect g = screen->geometry();
    r.left = g.x();
    r.top = g.y();
    r.right = g.x() + g.width();
    r.bottom = g.y() + g.height();
    return r;
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

bool startProgram(const std::string& program, const std::string& document)
{
    if (program.empty())
        return false;
    QStringList arguments;
    if (!document.empty())
        arguments << QString::fromStdString(document);
    return QProcess::startDetached(QString::fromStdString(program), arguments);
}
