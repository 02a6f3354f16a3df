#pragma once

#include <QObject>
#include <QTimer>

class QScreen;

// Tells when the monitors change: one plugged in or out, a mode or place
// changed (xrandr, a laptop docked), another made primary. The signals of one
// such change (a screen removed, another resized, the primary moved) come as
// one changed(), once the event that brought them has been handled.
class MonitorWatcher : public QObject {
    Q_OBJECT

public:
    explicit MonitorWatcher(QObject* parent = nullptr);

signals:
    void changed();

private:
    void watch(QScreen* screen);

    QTimer batch_;
};
