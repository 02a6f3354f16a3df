#include "platform/MonitorWatcher.h"

#include <QGuiApplication>
#include <QScreen>

MonitorWatcher::MonitorWatcher(QObject* parent)
    : QObject(parent)
{
    batch_.setSingleShot(true);
    batch_.setInterval(0);
    connect(&batch_, &QTimer::timeout, this, &MonitorWatcher::changed);
    for (QScreen* screen : QGuiApplication::screens())
        watch(screen);
    connect(qApp, &QGuiApplication::screenAdded, this, [this](QScreen* screen) {
        watch(screen);
        batch_.start();
    });
    connect(qApp, &QGuiApplication::screenRemoved, this, [this] { batch_.start(); });
    connect(qApp, &QGuiApplication::primaryScreenChanged, this, [this] { batch_.start(); });
}

void MonitorWatcher::watch(QScreen* screen)
{
    connect(screen, &QScreen::geometryChanged, this, [this] { batch_.start(); });
}
