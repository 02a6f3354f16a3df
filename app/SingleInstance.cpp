#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QThread>

#include <algorithm>
#include <unistd.h>

namespace {

const QByteArray kRaise = "raise\n";
const QByteArray kDone = "raised\n";

} // namespace

SingleInstance::SingleInstance(const std::string& settingsPath, QObject* parent)
    : QObject(parent)
{
    const QString path = QString::fromStdString(settingsPath);
    lockPath_ = path + QStringLiteral(".lock");
    // Socket paths are short (108 bytes), so the socket is named after a hash
    // of the settings file's full path: in the user's runtime folder, or else
    // in the temporary folder, where the user id keeps two users' names apart.
    const QByteArray key = QFileInfo(path).absoluteFilePath().toUtf8();
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    serverName_ = QStringLiteral("tassio-%1-%2").arg(::getuid()).arg(hash);
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (runtime.startsWith(QLatin1Char('/')) && QFileInfo(runtime).isDir()) {
        const QString inRuntime = runtime + QStringLiteral("/tassio-") + hash;
        if (inRuntime.toLocal8Bit().size() < 100)
            serverName_ = inRuntime;
    }
}

SingleInstance::~SingleInstance()
{
    if (server_)
        server_->close();
    if (lock_)
        lock_->unlock();
}

SingleInstance::Outcome SingleInstance::claim(int timeoutMs)
{
    lock_ = std::make_unique<QLockFile>(lockPath_);
    // Never stale by age: a long run is not a dead one. A lock whose process
    // no longer runs (killed, crashed) is stale whatever its age, and
    // tryLock() takes it over.
    lock_->setStaleLockTime(0);
    if (lock_->tryLock(0)) {
        listen();
        return Outcome::First;
    }
    const QLockFile::LockError error = lock_->error();
    lock_.reset();
    if (error != QLockFile::LockFailedError)
        return Outcome::Unguarded;
    return askRunningInstance(timeoutMs) ? Outcome::Raised : Outcome::NoAnswer;
}

void SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the lock, so a socket left under this name belongs to a run
    // that is over.
    QLocalServer::removeServer(serverName_);
    if (!server_->listen(serverName_))
        return;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine())
                    return;
                if (socket->readLine() != kRaise) {
                    socket->disconnectFromServer();
                    return;
                }
                if (onRaiseRequest)
                    onRaiseRequest();
                socket->write(kDone);
                socket->flush();
                socket->disconnectFromServer();
            });
        }
    });
}

bool SingleInstance::askRunningInstance(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    // The holder may have taken the lock a moment ago and not listen yet.
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(static_cast<int>(std::max<qint64>(1, deadline.remainingTime())))) {
            socket.write(kRaise);
            socket.flush();
            QByteArray answer;
            while (!answer.endsWith('\n') && !deadline.hasExpired()
                   && socket.waitForReadyRead(static_cast<int>(std::max<qint64>(1, deadline.remainingTime()))))
                answer += socket.readAll();
            return answer == kDone;
        }
        QThread::msleep(50);
    }
    return false;
}
