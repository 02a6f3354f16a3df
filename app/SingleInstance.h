#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <string>

class QLocalServer;

// One running program per settings file: two would each write the file at
// exit, and the last one would overwrite the other's changes.
//
// On this machine the first start holds a name in the abstract socket
// namespace, derived from the settings file's path; the kernel frees it when
// the process ends however it ends, and it needs no file, so a full disk or
// a folder that cannot be written still leaves one instance. Across machines
// that share the folder (a home over the network) the first start holds an
// flock(2) on Tassio.ini.lock beside the settings file; the kernel releases
// that too when its holder dies, so a lock file left behind, by whatever
// host and with whatever content, is taken over.
//
// A later start asks the running one, over a local socket, to bring its
// panel up, and ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        // This is the only instance: it holds the name (and the lock, where
        // a lock file can be made) and listens.
        First,
        // Another instance runs and has brought its panel up.
        Raised,
        // Another instance runs (here, or on another machine that shares
        // the lock file) and did not answer in time.
        NoAnswer,
    };

    explicit SingleInstance(const std::string& settingsPath, QObject* parent = nullptr);
    // Lets go of the name, the socket and the lock, and removes the lock file.
    ~SingleInstance() override;

    // Takes the name and the lock, or asks the holder to raise its panel;
    // waits at most timeoutMs for the holder's answer. A holder that ends
    // meanwhile is succeeded.
    Outcome claim(int timeoutMs = 5000);

    // What the first instance does when a later start asks: bring the panel up.
    std::function<void()> onRaiseRequest;

    // The lock file and the socket's name; both follow from the settings
    // path, as does the name held in the abstract namespace.
    const QString& lockPath() const { return lockPath_; }
    const QString& serverName() const { return serverName_; }
    // Whether this instance holds the lock file's flock (not where no lock
    // file could be made, or the file system has no locks).
    bool holdsLockFile() const { return lockFd_ >= 0; }

private:
    enum class LockFile { Taken, HeldElsewhere, Unavailable };
    enum class Answer { Raised, NotListening, NoAnswer };

    bool takeUniqueName();
    LockFile takeLockFile();
    void release();
    void listen();
    Answer askRunningInstance(int timeoutMs);

    std::string lockFile_;
    QString lockPath_;
    QString serverName_;
    std::string uniqueName_;
    int nameFd_ = -1;
    int lockFd_ = -1;
    QLocalServer* server_ = nullptr;
};
