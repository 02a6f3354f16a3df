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

#include <QSysInfo>

#include <csignal>
#include <future>
#include <memory>
#include <thread>
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

// Lock files that no running instance holds, whatever they say and whoever
// wrote them: each start takes the lock over. A second start then finds the
// first.
TEST(SingleInstance, LockFilesNoInstanceHoldsAreTakenOver)
{
    const struct {
        const char* what;
        QByteArray content;
    } cases[] = {
        { "another host's lock", "4242\ntassio\nanother-machine.example\n" },
        { "an empty lock", "" },
        { "a garbled lock", QByteArray("\xff\xfe\x00garbage\n\x01\x02", 14) },
        // The process named in the file runs, but it is not a Tassio (a pid
        // used again after a reboot): this test's parent, and init.
        { "a lock of a live unrelated process", QByteArray::number(qint64(::getppid())) + "\ntassio\n" },
        { "a lock naming init on this host", "1\ntassio\n" + QSysInfo::machineHostName().toUtf8() + "\n" },
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir dir;
        QFile lock(dir.filePath("Tassio.ini.lock"));
        ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
        lock.write(c.content);
        lock.close();

        const std::string path = dir.filePath("Tassio.ini").toStdString();
        SingleInstance first(path);
        int raised = 0;
        first.onRaiseRequest = [&] { ++raised; };
        ASSERT_EQ(first.claim(300), SingleInstance::Outcome::First);
        EXPECT_TRUE(first.holdsLockFile());
        QFile now(dir.filePath("Tassio.ini.lock"));
        ASSERT_TRUE(now.open(QIODevice::ReadOnly));
        EXPECT_EQ(now.readLine(), QByteArray::number(qint64(::getpid())) + "\n") << "the lock does not name us";
        EXPECT_EQ(claimMeanwhile(path, 3000), SingleInstance::Outcome::Raised);
        EXPECT_EQ(raised, 1);
    }
}

// A full disk, or a folder that cannot be written: no lock file, and still
// one instance. Here the settings folder is a regular file, so nothing can be
// made in it, even by root.
TEST(SingleInstance, OneInstanceWhereNoLockFileCanBeMade)
{
    QTemporaryDir dir;
    QFile blocker(dir.filePath("file"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    const std::string path = dir.filePath("file/Tassio.ini").toStdString();

    SingleInstance first(path);
    int raised = 0;
    first.onRaiseRequest = [&] { ++raised; };
    ASSERT_EQ(first.claim(300), SingleInstance::Outcome::First);
    EXPECT_FALSE(first.holdsLockFile());
    EXPECT_FALSE(QFileInfo::exists(first.lockPath()));
    EXPECT_EQ(claimMeanwhile(path, 3000), SingleInstance::Outcome::Raised);
    EXPECT_EQ(raised, 1);
}

// Another process holds the instance: a later start does not run beside it,
// and once that process is killed (no chance to clean up) the next start is
// the first, with or without a lock file.
TEST(SingleInstance, AKilledHolderIsSucceeded)
{
    for (const bool lockFile : { true, false }) {
        SCOPED_TRACE(lockFile ? "with a lock file" : "without a lock file");
        QTemporaryDir dir;
        QFile blocker(dir.filePath("file"));
        ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const std::string path = dir.filePath(lockFile ? "Tassio.ini" : "file/Tassio.ini").toStdString();

        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Holds the instance but never serves its socket, like a program
            // that hangs.
            SingleInstance holder(path);
            const char ok = holder.claim(300) == SingleInstance::Outcome::First ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char ok = 0;
        ASSERT_EQ(::read(ready[0], &ok, 1), 1);
        ::close(ready[0]);
        ASSERT_EQ(ok, 'y');

        EXPECT_EQ(SingleInstance(path).claim(300), SingleInstance::Outcome::NoAnswer);
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(QFileInfo::exists(dir.filePath("Tassio.ini.lock")), lockFile) << "a killed holder leaves its file";

        SingleInstance next(path);
        EXPECT_EQ(next.claim(300), SingleInstance::Outcome::First);
        EXPECT_EQ(next.holdsLockFile(), lockFile);
    }
}

// A start that waits for a holder about to end takes its place when it has.
TEST(SingleInstance, AHolderThatEndsWhileAskedIsSucceeded)
{
    QTemporaryDir dir;
    const std::string path = dir.filePath("Tassio.ini").toStdString();
    auto first = std::make_unique<SingleInstance>(path);
    ASSERT_EQ(first->claim(300), SingleInstance::Outcome::First);
    // Not serving its socket (no events are processed), then gone.
    auto later = std::async(std::launch::async, [&] { return SingleInstance(path).claim(5000); });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    first.reset();
    EXPECT_EQ(later.get(), SingleInstance::Outcome::First);
}

} // namespace
