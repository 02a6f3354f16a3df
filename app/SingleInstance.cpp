#include "app/SingleInstance.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QByteArray kRaise = "raise\n";
const QByteArray kDone = "raised\n";

int remainingMs(const QDeadlineTimer& deadline)
{
    return static_cast<int>(std::clamp<qint64>(deadline.remainingTime(), 1, 60000));
}

} // namespace

SingleInstance::SingleInstance(const std::string& settingsPath, QObject* parent)
    : QObject(parent)
{
    const QString path = QFile::decodeName(QByteArray::fromStdString(settingsPath));
    // The file is opened by its bytes, whatever their encoding.
    lockFile_ = settingsPath + ".lock";
    lockPath_ = path + QStringLiteral(".lock");
    // Socket paths are short (108 bytes), so the socket is named after a hash
    // of the settings file's full path: in the user's runtime folder, or else
    // in the temporary folder, where the user id keeps two users' names apart.
    const QByteArray key = QFileInfo(path).absoluteFilePath().toUtf8();
    const QString hash = QString::fromLatin1(QCryptographicHash::hash(key, QCryptographicHash::Sha256).toHex().left(24));
    serverName_ = QStringLiteral("tassio-%1-%2").arg(::getuid()).arg(hash);
    uniqueName_ = serverName_.toStdString();
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
    release();
}

SingleInstance::Outcome SingleInstance::claim(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (takeUniqueName()) {
            if (takeLockFile() != LockFile::HeldElsewhere) {
                listen();
                return Outcome::First;
            }
            // Held by an instance on another machine that shares the folder,
            // or by an earlier version here: ask it, holding nothing meanwhile.
            release();
        }
        switch (askRunningInstance(remainingMs(deadline))) {
        case Answer::Raised:
            return Outcome::Raised;
        case Answer::NoAnswer:
            return Outcome::NoAnswer;
        case Answer::NotListening:
            // Starting and not listening yet, or ending: ask again, or take
            // its place once it has gone.
            break;
        }
        if (deadline.hasExpired())
            return Outcome::NoAnswer;
        QThread::msleep(50);
    }
}

bool SingleInstance::takeUniqueName()
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    // Without local sockets there is nothing to hold here; the lock file
    // still guards.
    if (fd < 0)
        return true;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    // A leading zero byte puts the name in the abstract namespace: no file,
    // gone with the last process holding it. The name fits (under 60 bytes).
    const std::size_t length = std::min(uniqueName_.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, uniqueName_.data(), length);
    const auto size = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), size) == 0) {
        nameFd_ = fd;
        return true;
    }
    const int error = errno;
    ::close(fd);
    return error != EADDRINUSE;
}

SingleInstance::LockFile SingleInstance::takeLockFile()
{
    const char* const path = lockFile_.c_str();
    // A few tries: each holder removes the file as it ends, and a lock taken
    // on a file no longer in the folder guards nothing.
    for (int attempt = 0; attempt < 5; ++attempt) {
        // Close-on-exec: a program started from here must not hold the lock
        // after we end.
        const int fd = ::open(path, O_RDWR | O_CREAT | O_CLOEXEC | O_NOCTTY, 0644);
        if (fd < 0)
            return LockFile::Unavailable; // full disk, folder not writable or missing
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            ::close(fd);
            // ENOLCK: a network file system without locks. The name still
            // guards this machine.
            return error == EWOULDBLOCK ? LockFile::HeldElsewhere : LockFile::Unavailable;
        }
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && ::stat(path, &named) == 0 && held.st_dev == named.st_dev
            && held.st_ino == named.st_ino) {
            lockFd_ = fd;
            // For people looking at the file; the lock itself is what counts.
            char host[256] = {};
            ::gethostname(host, sizeof host - 1);
            const std::string info = std::to_string(::getpid()) + "\ntassio\n" + host + "\n";
            if (::ftruncate(fd, 0) == 0)
                (void)!::pwrite(fd, info.data(), info.size(), 0);
            return LockFile::Taken;
        }
        ::close(fd);
    }
    return LockFile::Unavailable;
}

void SingleInstance::release()
{
    if (lockFd_ >= 0) {
        // Removed while still locked, so no one takes a lock on it that the
        // next start could not see.
        ::unlink(lockFile_.c_str());
        ::close(lockFd_);
        lockFd_ = -1;
    }
    if (nameFd_ >= 0) {
        ::close(nameFd_);
        nameFd_ = -1;
    }
}

void SingleInstance::listen()
{
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    // We hold the name, so a socket left under this path belongs to a run
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

SingleInstance::Answer SingleInstance::askRunningInstance(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(serverName_);
    if (!socket.waitForConnected(std::min(timeoutMs, 1000)))
        return Answer::NotListening;
    socket.write(kRaise);
    socket.flush();
    QByteArray answer;
    while (!answer.endsWith('\n') && !deadline.hasExpired() && socket.waitForReadyRead(remainingMs(deadline)))
        answer += socket.readAll();
    if (answer == kDone)
        return Answer::Raised;
    // Closed without an answer: the holder is ending. Its place is free soon.
    return deadline.hasExpired() ? Answer::NoAnswer : Answer::NotListening;
}
