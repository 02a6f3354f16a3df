#pragma once

#include <QObject>

#include <memory>

// What the session's services say over D-Bus about whether anyone is in
// front of the screen: logind (the session locked or not active, the system
// about to suspend) on the system bus, and the screen saver services
// (org.freedesktop.ScreenSaver, org.gnome.ScreenSaver) on the session bus.
// Signals only, asked once at start and again when a service comes back.
// A bus or a service that is missing is passed over in silence; what a
// service said goes with it when it leaves.
class SessionWatch : public QObject {
    Q_OBJECT

public:
    explicit SessionWatch(QObject* parent = nullptr);
    ~SessionWatch() override;

    bool locked() const;
    bool inactive() const;
    bool preparingForSleep() const;
    // Any of the screen saver services says it is active.
    bool saverActive() const;

signals:
    void changed();

private:
    friend class SessionBusListener;
    struct State {
        bool locked = false;
        bool inactive = false;
        bool preparingForSleep = false;
        bool freedesktopSaver = false;
        bool gnomeSaver = false;
    } state_;
    void set(bool State::*field, bool value);

    std::unique_ptr<QObject> listener_;
};
