#include "app/TrayIcon.h"

#include "platform/AppIcon.h"

#include <QAction>
#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QWidget>

bool TrayIcon::trayPossible()
{
    return QGuiApplication::platformName() == QLatin1String("xcb") || QSystemTrayIcon::isSystemTrayAvailable();
}

TrayIcon::TrayIcon(QWidget* panel, std::function<void()> quit, QObject* parent)
    : TrayIcon(panel, std::move(quit), trayPossible(), parent)
{
}

TrayIcon::TrayIcon(QWidget* panel, std::function<void()> quit, bool trayPossible, QObject* parent)
    : QObject(parent), panel_(panel), quit_(std::move(quit))
{
    if (!trayPossible)
        return;

    menu_ = std::make_unique<QMenu>();
    settingsAction_ = menu_->addAction(tr("设定"));
    menu_->addSeparator();
    quitAction_ = menu_->addAction(tr("退出"));
    connect(settingsAction_, &QAction::triggered, this, &TrayIcon::showPanel);
    // Queued: the shutdown ends the panel's run, which should not happen
    // inside the menu's own event handling.
    connect(quitAction_, &QAction::triggered, this, [this] {
        if (quit_)
            quit_();
    }, Qt::QueuedConnection);

    icon_ = std::make_unique<QSystemTrayIcon>(applicationIcon());
    icon_->setToolTip(QStringLiteral("Tassio"));
    icon_->setContextMenu(menu_.get());
    connect(icon_.get(), &QSystemTrayIcon::activated, this, &TrayIcon::activated);
    icon_->show();
}

TrayIcon::~TrayIcon() = default;

void TrayIcon::activated(QSystemTrayIcon::ActivationReason reason)
{
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick)
        showPanel();
}

void TrayIcon::showPanel()
{
    bringUp(panel_);
}

void TrayIcon::bringUp(QWidget* panel)
{
    if (!panel)
        return;
    panel->setWindowState((panel->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    panel->show();
    panel->raise();
    panel->activateWindow();
}
