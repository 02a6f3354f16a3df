#include "platform/SessionWatch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QFileInfo>
#include <QTimer>
#include <QVariantMap>

#include <cstdlib>

namespace {

const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kFreedesktopSaver = QStringLiteral("org.freedesktop.ScreenSaver");
const QString kGnomeSaver = QStringLiteral("org.gnome.ScreenSaver");

// libdbus, given no address for the session bus, would start a bus daemon of
// its own (autolaunch); only a bus the session already has is wanted.
bool sessionBusNamed()
{
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (address && *address)
        return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    return runtime && *runtime && QFileInfo(QString::fromLocal8Bit(runtime) + QStringLiteral("/bus")).exists();
}

} // namespace

class SessionBusListener : public QObject {
    Q_OBJECT

public:
    explicit SessionBusListener(SessionWatch& watch)
        : watch_(watch)
        , system_(QString())
        , session_(QString())
    {
        // Connecting to a bus takes a round trip or two: after start-up.
        QTimer::singleShot(0, this, &SessionBusListener::start);
    }

private slots:
    void prepareForSleep(bool start) { watch_.set(&SessionWatch::State::preparingForSleep, start); }

    void sessionProperties(const QString& interface, const QVariantMap& changed, const QStringList& invalidated)
    {
        if (interface != QLatin1String("org.freedesktop.login1.Session"))
            return;
        applySession(changed);
        if (invalidated.contains(QLatin1String("LockedHint")) || invalidated.contains(QLatin1String("Active")))
            readSession();
    }

    void saverActiveChanged(const QDBusMessage& message)
    {
        const QVariantList args = message.arguments();
        if (args.size() == 1 && args.front().typeId() == QMetaType::Bool)
            setSaver(message.interface(), args.front().toBool());
    }

private:
    void start()
    {
        system_ = QDBusConnection::systemBus();
        if (system_.isConnected()) {
            auto* logind = new QDBusServiceWatcher(kLogind, system_, QDBusServiceWatcher::WatchForOwnerChange, this);
            connect(logind, &QDBusServiceWatcher::serviceOwnerChanged, this,
                    [this](const QString&, const QString&, const QString& owner) {
                        // A logind that restarted says everything again.
                        forgetLogind();
                        if (!owner.isEmpty())
                            askLogind();
                    });
            system_.connect(kLogind, QStringLiteral("/org/freedesktop/login1"),
                            QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("PrepareForSleep"), this,
                            SLOT(prepareForSleep(bool)));
            askLogind();
        }
        if (!sessionBusNamed())
            return;
        session_ = QDBusConnection::sessionBus();
        if (!session_.isConnected())
            return;
        auto* savers = new QDBusServiceWatcher(this);
        savers->setConnection(session_);
        savers->setWatchMode(QDBusServiceWatcher::WatchForOwnerChange);
        savers->setWatchedServices({ kFreedesktopSaver, kGnomeSaver });
        connect(savers, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString& service, const QString&, const QString& owner) {
                    setSaver(service, false);
                    if (!owner.isEmpty())
                        askSaver(service);
                });
        for (const QString& service : { kFreedesktopSaver, kGnomeSaver }) {
            // Any path: KDE's saver signals on /ScreenSaver as well.
            session_.connect(service, QString(), service, QStringLiteral("ActiveChanged"), this,
                             SLOT(saverActiveChanged(QDBusMessage)));
            askSaver(service);
        }
    }

    template <typename Reply, typename Then>
    void ask(QDBusConnection& bus, const QDBusMessage& call, Then then)
    {
        auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(call), this);
        connect(pending, &QDBusPendingCallWatcher::finished, this, [then](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<Reply> reply = *w;
            // A service that is not there, or refuses: nothing to go on.
            if (!reply.isError())
                then(reply.value());
        });
    }

    void askLogind()
    {
        QDBusMessage call = QDBusMessage::createMethodCall(kLogind, QStringLiteral("/org/freedesktop/login1"),
                                                           QStringLiteral("org.freedesktop.login1.Manager"),
                                                           QStringLiteral("GetSession"));
        call << QStringLiteral("auto");
        ask<QDBusObjectPath>(system_, call, [this](const QDBusObjectPath& path) {
            if (!sessionPath_.isEmpty())
                system_.disconnect(kLogind, sessionPath_, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"), this,
                                   SLOT(sessionProperties(QString, QVariantMap, QStringList)));
            sessionPath_ = path.path();
            system_.connect(kLogind, sessionPath_, QStringLiteral("org.freedesktop.DBus.Properties"),
                            QStringLiteral("PropertiesChanged"), this,
                            SLOT(sessionProperties(QString, QVariantMap, QStringList)));
            readSession();
        });
    }

    void readSession()
    {
        if (sessionPath_.isEmpty())
            return;
        QDBusMessage call = QDBusMessage::createMethodCall(kLogind, sessionPath_,
                                                           QStringLiteral("org.freedesktop.DBus.Properties"),
                                                           QStringLiteral("GetAll"));
        call << QStringLiteral("org.freedesktop.login1.Session");
        ask<QVariantMap>(system_, call, [this](const QVariantMap& properties) { applySession(properties); });
    }

    void applySession(const QVariantMap& properties)
    {
        const auto locked = properties.find(QStringLiteral("LockedHint"));
        if (locked != properties.end() && locked->typeId() == QMetaType::Bool)
            watch_.set(&SessionWatch::State::locked, locked->toBool());
        const auto active = properties.find(QStringLiteral("Active"));
        if (active != properties.end() && active->typeId() == QMetaType::Bool)
            watch_.set(&SessionWatch::State::inactive, !active->toBool());
    }

    void forgetLogind()
    {
        watch_.set(&SessionWatch::State::locked, false);
        watch_.set(&SessionWatch::State::inactive, false);
        watch_.set(&SessionWatch::State::preparingForSleep, false);
    }

    void askSaver(const QString& service)
    {
        const QString path = QLatin1Char('/') + QString(service).replace(QLatin1Char('.'), QLatin1Char('/'));
        ask<bool>(session_, QDBusMessage::createMethodCall(service, path, service, QStringLiteral("GetActive")),
                  [this, service](bool active) { setSaver(service, active); });
    }

    void setSaver(const QString& service, bool active)
    {
        if (service == kFreedesktopSaver)
            watch_.set(&SessionWatch::State::freedesktopSaver, active);
        else if (service == kGnomeSaver)
            watch_.set(&SessionWatch::State::gnomeSaver, active);
    }

    SessionWatch& watch_;
    QDBusConnection system_;
    QDBusConnection session_;
    QString sessionPath_;
};

SessionWatch::SessionWatch(QObject* parent)
    : QObject(parent)
    , listener_(std::make_unique<SessionBusListener>(*this))
{
}

SessionWatch::~SessionWatch() = default;

bool SessionWatch::locked() const
{
    return state_.locked;
}

bool SessionWatch::inactive() const
{
    return state_.inactive;
}

bool SessionWatch::preparingForSleep() const
{
    return state_.preparingForSleep;
}

bool SessionWatch::saverActive() const
{
    return state_.freedesktopSaver || state_.gnomeSaver;
}

void SessionWatch::set(bool State::*field, bool value)
{
    if (state_.*field == value)
        return;
    state_.*field = value;
    emit changed();
}

#include "SessionWatch.moc"
