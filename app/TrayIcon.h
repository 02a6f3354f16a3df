#pragma once

#include <QObject>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>

class QAction;
class QMenu;
class QWidget;

// The program's icon in the system tray, where the desktop has one. The panel
// starts minimised and some desktops show no task bar, so the tray is another
// way back to it: a click restores the panel, and the icon's menu opens the
// panel ("设定") or ends the program ("退出") the normal way.
// On X11 the icon exists from the start even while no tray runs: a tray that
// starts later (the usual race at login) or starts again after a crash gets
// it docked, since Qt watches the tray's selection for as long as the icon is
// shown. Where no tray can ever appear there is no icon and no menu.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    // quit runs the normal shutdown (the panel's accept()).
    TrayIcon(QWidget* panel, std::function<void()> quit, QObject* parent = nullptr);
    // The same with the answer to "can a tray be there, now or later" given
    // rather than asked for.
    TrayIcon(QWidget* panel, std::function<void()> quit, bool trayPossible, QObject* parent = nullptr);

    // A tray is there now, or may come: always on X11, elsewhere only when
    // one is there at start.
    static bool trayPossible();
    // Restores a minimised or hidden panel, raises and activates it.
    static void bringUp(QWidget* panel);
    ~TrayIcon() override;

    // The icon in the tray, and its menu; null without a tray.
    QSystemTrayIcon* icon() const { return icon_.get(); }
    QMenu* menu() const { return menu_.get(); }
    QAction* settingsAction() const { return settingsAction_; }
    QAction* quitAction() const { return quitAction_; }

public slots:
    // A click on the icon: the panel comes back and gets the focus. The
    // context menu is opened by the tray itself.
    void activated(QSystemTrayIcon::ActivationReason reason);
    // Restores a minimised or hidden panel, raises and activates it.
    void showPanel();

private:
    QWidget* panel_;
    std::function<void()> quit_;
    // Declared before the icon, which refers to it: the icon leaves the tray
    // before its menu goes.
    std::unique_ptr<QMenu> menu_;
    std::unique_ptr<QSystemTrayIcon> icon_;
    QAction* settingsAction_ = nullptr;
    QAction* quitAction_ = nullptr;
};
