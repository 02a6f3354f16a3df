// One instance per settings file: the lock, the request a later start sends,
// a lock left by a dead process, and a folder where no lock can be made.
#include "app/SingleInstance.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QLockFile>
#include <QTemporaryDir>

#include <future>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs a later start's claim on a thread of its own while this thread serves
// the first instance's socket, as two processes would.
SingleInstance::Outcome claimMeanwhile(const std::string& settingsPath, int timeoutMs)
{
    auto later = std::async(std::launch::async, [&] { return SingleInstance(settingsPath).claim(timeoutMs); });
    const QDeadlineTimer deadline(timeoutMs + 5000);
    while (later.wait_for(std::chrono::milliseconds(5)) != std::future_status::ready) {
        QCoreApplication::processEvents();
        if (deadline.hasExpired()) {
            ADD_FAILURE() << "the later claim did not return";
            break;
        }
    }
    return later.get();
}

TEST(SingleInstance, ALaterStartRaisesTheFirstAndGoes)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Tassio.ini").toStdString();
    SingleInstance first(path);
    int raised = 0;
    first.onRaiseRequest = [&] { ++raised; };
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);
    EXPECT_TRUE(QFileInfo::exists(first.lockPath()));
    EXPECT_EQ(first.lockPath(), dir.filePath("Tassio.ini.lock"));

    EXPECT_EQ(claimMeanwhile(path, 3000), SingleInstance::Outcome::Raised);
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(claimMeanwhile(path, 3000), SingleInstance::Outcome::Raised);
    EXPECT_EQ(raised, 2);

    // Another settings file is another instance.
    SingleInstance other(dir.filePath("elsewhere/Tassio.ini").toStdString());
    QDir(dir.path()).mkdir("elsewhere");
    EXPECT_EQ(other.claim(), SingleInstance::Outcome::First);
    EXPECT_NE(other.serverName(), first.serverName());
}

TEST(SingleInstance, OnlyTheRaiseRequestIsAnswered)
{
    QTemporaryDir dir;
    SingleInstance first(dir.filePath("Tassio.ini").toStdString());
    int raised = 0;
    first.onRaiseRequest = [&] { ++raised; };
    ASSERT_EQ(first.claim(), SingleInstance::Outcome::First);

    QLocalSocket socket;
    socket.connectToServer(first.serverName());
    ASSERT_TRUE(socket.waitForConnected(3000));
    socket.write("quit\n");
    socket.flush();
    const QDeadlineTimer deadline(3000);
    while (socket.state() != QLocalSocket::UnconnectedState && !deadline.hasExpired()) {
        QCoreApplication::processEvents();
        socket.waitForDisconnected(10);
    }
    EXPECT_EQ(socket.state(), QLocalSocket::UnconnectedState) << "the server kept a stranger's connection";
    EXPECT_EQ(socket.readAll(), QByteArray());
    EXPECT_EQ(raised, 0);
}

TEST(SingleInstance, AHolderThatDoesNotAnswerIsReported)
{
    // The lock is held by a live process (this one) that does not listen.
    QTemporaryDir dir;
    const std::string path = dir.filePath("Tassio.ini").toStdString();
    QLockFile held(dir.filePath("Tassio.ini.lock"));
    ASSERT_TRUE(held.tryLock(0));
    EXPECT_EQ(SingleInstance(path).claim(300), SingleInstance::Outcome::NoAnswer);
}

TEST(SingleInstance, ALockLeftByAKilledProcessIsTakenOver)
{
    QTemporaryDir dir;
    const QString lockPath = dir.filePath("Tassio.ini.lock");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        QLockFile lock(lockPath);
        lock.setStaleLockTime(0);
        _exit(lock.tryLock(0) ? 0 : 1); // gone without unlocking, as if killed
    }
    int status = -1;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(QFileInfo::exists(lockPath));

    SingleInstance next(dir.filePath("Tassio.ini").toStdString());
    EXPECT_EQ(next.claim(300), SingleInstance::Outcome::First);
}

TEST(SingleInstance, NoLockWhereNoFileCanBeMade)
{
    QTemporaryDir dir;
    // The settings folder is a file: nothing can be made in it, even by root.
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_EQ(SingleInstance(dir.filePath("file/Tassio.ini").toStdString()).claim(300),
              SingleInstance::Outcome::Unguarded);
}

} // namespace
