#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QLocalServer;
class QLockFile;

// One running program per settings file: two would each write the file at
// exit, and the last one would overwrite the other's changes.
//
// The first start holds a lock file beside the settings file and listens on a
// local socket named after the file. A later start with the same settings
// file finds the lock taken, asks the running one over the socket to bring
// its panel up, and ends. A lock left by a process that was killed names a
// process that no longer runs; it is taken over.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Outcome {
        // This is the only instance: it holds the lock and listens.
        First,
        // Another instance runs and has brought its panel up.
        Raised,
        // Another instance holds the lock but did not answer.
        NoAnswer,
        // The lock could not be made (the folder cannot be written); the
        // program runs unguarded.
        Unguarded,
    };

    explicit SingleInstance(const std::string& settingsPath, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Takes the lock, or asks the holder to raise its panel; waits at most
    // timeoutMs for the holder's answer.
    Outcome claim(int timeoutMs = 5000);

    // What the first instance does when a later start asks: bring the panel up.
    std::function<void()> onRaiseRequest;

    // The lock file and the socket's name; both follow from the settings path.
    const QString& lockPath() const { return lockPath_; }
    const QString& serverName() const { return serverName_; }

private:
    void listen();
    bool askRunningInstance(int timeoutMs);

    QString lockPath_;
    QString serverName_;
    std::unique_ptr<QLockFile> lock_;
    QLocalServer* server_ = nullptr;
};
