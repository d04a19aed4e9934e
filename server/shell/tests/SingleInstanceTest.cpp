#include <shell/BrovikInstance.h>

#include <testsupport/TestApp.h>

#include <QApplication>

#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

using namespace shell;

namespace {

using namespace std::chrono_literals;

class SingleInstanceTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::App<QApplication>();
        ASSERT_TRUE(dir_.isValid());
        registry_ = dir_.path().toStdString() + "/registry.reg";
        lock_ = SingleInstance::LockPathForRegistry(registry_);
    }

    QTemporaryDir dir_;
    std::string registry_;
    std::string lock_;
};

TEST_F(SingleInstanceTest, NamesFollowTheRegistryFile) {
    EXPECT_EQ(lock_, registry_ + ".brovik.lock");
    const QString name = SingleInstance::ServerNameFor(lock_);
    EXPECT_TRUE(name.startsWith("brovik-"));
    EXPECT_EQ(name, SingleInstance::ServerNameFor(dir_.path().toStdString() +
                                                  "/./registry.reg.brovik.lock"));
    EXPECT_NE(name, SingleInstance::ServerNameFor(lock_ + "2"));
    // The relative form of the same file names the same server.
    const std::string saved = QDir::currentPath().toStdString();
    ASSERT_EQ(::chdir(dir_.path().toLocal8Bit().constData()), 0);
    EXPECT_EQ(SingleInstance::ServerNameFor("registry.reg.brovik.lock"), name);
    ASSERT_EQ(::chdir(saved.c_str()), 0);
}

TEST_F(SingleInstanceTest, SecondCopyAsksTheFirstToRaiseAndTheLockPassesOn) {
    auto first = std::make_unique<SingleInstance>(lock_);
    int raised = 0;
    QObject::connect(first.get(), &SingleInstance::RaiseRequested, [&] { ++raised; });
    ASSERT_EQ(first->Acquire(), SingleInstance::Result::First);
    EXPECT_TRUE(first->IsFirst());
    EXPECT_TRUE(first->IsListening());

    {
        SingleInstance second(lock_);
        EXPECT_EQ(second.Acquire(2000), SingleInstance::Result::Raised);
        EXPECT_FALSE(second.IsFirst());
    }
    EXPECT_TRUE(testsupport::SpinUntil([&] { return raised == 1; }));

    // Once the first copy is gone the next one starts.
    first.reset();
    SingleInstance third(lock_);
    EXPECT_EQ(third.Acquire(), SingleInstance::Result::First);
    EXPECT_TRUE(third.IsListening());
    testsupport::SpinFor(50ms);
    EXPECT_EQ(raised, 1);
}

TEST_F(SingleInstanceTest, SymlinkOrHardLinkToTheSameRegistryIsTheSameInstance) {
    QFile(QString::fromStdString(registry_)).open(QIODevice::WriteOnly);
    const std::string other = dir_.path().toStdString() + "/elsewhere";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(other)));
    const std::string symlink = other + "/via-symlink.reg";
    const std::string hardlink = other + "/via-hardlink.reg";
    ASSERT_EQ(::symlink(registry_.c_str(), symlink.c_str()), 0);
    ASSERT_EQ(::link(registry_.c_str(), hardlink.c_str()), 0);

    SingleInstance first(SingleInstance::LockPathForRegistry(registry_));
    first.KeyOnFileIdentity(registry_);
    int raised = 0;
    QObject::connect(&first, &SingleInstance::RaiseRequested, [&] { ++raised; });
    ASSERT_EQ(first.Acquire(), SingleInstance::Result::First);
    for (const std::string& path : {symlink, hardlink}) {
        SingleInstance second(SingleInstance::LockPathForRegistry(path));
        second.KeyOnFileIdentity(path);
        EXPECT_EQ(second.Acquire(2000), SingleInstance::Result::Raised) << path;
        EXPECT_FALSE(second.IsFirst()) << path;
    }
    EXPECT_TRUE(testsupport::SpinUntil([&] { return raised == 2; }));

    // Another file is another instance.
    const std::string unrelated = other + "/unrelated.reg";
    QFile(QString::fromStdString(unrelated)).open(QIODevice::WriteOnly);
    SingleInstance apart(SingleInstance::LockPathForRegistry(unrelated));
    apart.KeyOnFileIdentity(unrelated);
    EXPECT_EQ(apart.Acquire(), SingleInstance::Result::First);
}

// What every registry write does: a new file renamed over the old name (a new inode).
void Rewrite(const std::string& path) {
    QFile next(QString::fromStdString(path + ".new"));
    ASSERT_TRUE(next.open(QIODevice::WriteOnly));
    next.write("REGEDIT4\r\n\r\n");
    next.close();
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
}

TEST_F(SingleInstanceTest, FilesAreComparedAsTheyStandAfterEveryRewrite) {
    QFile(QString::fromStdString(registry_)).open(QIODevice::WriteOnly);
    const std::string before = dir_.path().toStdString() + "/linked-before.reg";
    ASSERT_EQ(::link(registry_.c_str(), before.c_str()), 0);
    SingleInstance first(SingleInstance::LockPathForRegistry(registry_));
    first.KeyOnFileIdentity(registry_);
    ASSERT_EQ(first.Acquire(), SingleInstance::Result::First);

    // The rewrite leaves the old file, now another registry, to the earlier link alone.
    Rewrite(registry_);
    SingleInstance apart(SingleInstance::LockPathForRegistry(before));
    apart.KeyOnFileIdentity(before);
    EXPECT_EQ(apart.Acquire(), SingleInstance::Result::First);
    // A link made to the rewritten file is the first copy's file.
    const std::string after = dir_.path().toStdString() + "/linked-after.reg";
    ASSERT_EQ(::link(registry_.c_str(), after.c_str()), 0);
    SingleInstance second(SingleInstance::LockPathForRegistry(after));
    second.KeyOnFileIdentity(after);
    EXPECT_EQ(second.Acquire(2000), SingleInstance::Result::Raised);

    // Unrelated files rewritten while their copies run never meet.
    std::vector<std::unique_ptr<SingleInstance>> copies;
    for (int i = 0; i < 12; ++i) {
        const std::string path = dir_.path().toStdString() + "/apart" + std::to_string(i) + ".reg";
        Rewrite(path);
        copies.push_back(
            std::make_unique<SingleInstance>(SingleInstance::LockPathForRegistry(path)));
        copies.back()->KeyOnFileIdentity(path);
        EXPECT_EQ(copies.back()->Acquire(300), SingleInstance::Result::First) << path;
        Rewrite(path);
        if (i > 0)
            Rewrite(dir_.path().toStdString() + "/apart" + std::to_string(i - 1) + ".reg");
    }
    // Every copy takes its entry in the table away with it.
    const QString entry = SingleInstance::ServerNameFor(copies.front()->LockPath());
    const QString folder = QString::fromStdString(SingleInstance::CopiesFolder());
    EXPECT_TRUE(QFile::exists(folder + "/" + entry));
    copies.clear();
    EXPECT_FALSE(QFile::exists(folder + "/" + entry));
}

TEST_F(SingleInstanceTest, OtherTrafficDoesNotRaise) {
    SingleInstance first(lock_);
    int raised = 0;
    QObject::connect(&first, &SingleInstance::RaiseRequested, [&] { ++raised; });
    ASSERT_EQ(first.Acquire(), SingleInstance::Result::First);

    QLocalSocket junk;
    junk.connectToServer(SingleInstance::ServerNameFor(lock_));
    ASSERT_TRUE(junk.waitForConnected(2000));
    junk.write(QByteArray(200, 'x'));
    junk.flush();
    EXPECT_TRUE(
        testsupport::SpinUntil([&] { return junk.state() == QLocalSocket::UnconnectedState; }, 5s));

    QLocalSocket wrong;
    wrong.connectToServer(SingleInstance::ServerNameFor(lock_));
    ASSERT_TRUE(wrong.waitForConnected(2000));
    wrong.write("raise now\n");
    wrong.flush();
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return wrong.state() == QLocalSocket::UnconnectedState; }, 5s));
    EXPECT_EQ(raised, 0);
}

TEST_F(SingleInstanceTest, HolderThatDoesNotAnswerIsUnreachable) {
    const int fd = ::open(lock_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
    SingleInstance second(lock_);
    EXPECT_EQ(second.Acquire(300), SingleInstance::Result::Unreachable);
    EXPECT_FALSE(second.IsFirst());
    ::close(fd);
}

TEST_F(SingleInstanceTest, StaleSocketAndMissingFolder) {
    // A socket file left by a copy that died does not keep the next one from listening.
    const QString stale = QDir::tempPath() + "/" + SingleInstance::ServerNameFor(lock_);
    {
        QFile file(stale);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    SingleInstance first(lock_);
    EXPECT_EQ(first.Acquire(), SingleInstance::Result::First);
    EXPECT_TRUE(first.IsListening());

    const std::string nested = dir_.path().toStdString() + "/new/folder/registry.reg.brovik.lock";
    SingleInstance other(nested);
    EXPECT_EQ(other.Acquire(), SingleInstance::Result::First);

    SingleInstance blocked(dir_.path().toStdString() + "/registry.reg/inside.lock");
    QFile plain(dir_.path() + "/registry.reg");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    EXPECT_EQ(blocked.Acquire(), SingleInstance::Result::Failed);
    EXPECT_NE(blocked.ErrorText().find("registry.reg/inside.lock"), std::string::npos);
}

TEST_F(SingleInstanceTest, AFolderThatIsNotWritableIsNamedAsSuch) {
    // The lock file is not there yet and the user may not make it: the folder is the cause.
    const std::string folder = dir_.path().toStdString() + "/locked";
    ASSERT_TRUE(QDir().mkpath(QString::fromStdString(folder)));
    ASSERT_EQ(::chmod(dir_.path().toUtf8().constData(), 0755), 0);
    ASSERT_EQ(::chmod(folder.c_str(), 0555), 0);
    int report[2];
    ASSERT_EQ(::pipe(report), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(report[0]);
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        SingleInstance blocked(folder + "/registry.reg.brovik.lock");
        const std::string text = blocked.Acquire() == SingleInstance::Result::Failed
                                     ? blocked.ErrorText()
                                     : std::string("acquired");
        [[maybe_unused]] const ssize_t n = ::write(report[1], text.data(), text.size());
        ::_exit(0);
    }
    ::close(report[1]);
    std::string text;
    char buf[512];
    for (ssize_t n; (n = ::read(report[0], buf, sizeof buf)) > 0;)
        text.append(buf, static_cast<size_t>(n));
    ::close(report[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::chmod(folder.c_str(), 0755);
    EXPECT_EQ(text.rfind("the registry folder " + folder + " is not writable", 0), 0u) << text;
    EXPECT_EQ(text.find("No such file"), std::string::npos) << text;
}

#ifdef BROVIK_PATH
// A second server started for the same registry raises this one and ends at once.
TEST_F(SingleInstanceTest, SecondProgramEndsAndRaisesTheFirst) {
    SingleInstance first(lock_);
    int raised = 0;
    QObject::connect(&first, &SingleInstance::RaiseRequested, [&] { ++raised; });
    ASSERT_EQ(first.Acquire(), SingleInstance::Result::First);

    QProcess second;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QORVELL_REGISTRY", QString::fromStdString(registry_));
    env.insert("QT_QPA_PLATFORM", "offscreen");
    second.setProcessEnvironment(env);
    second.start(QStringLiteral(BROVIK_PATH), {});
    ASSERT_TRUE(second.waitForStarted(10000));
    EXPECT_TRUE(testsupport::SpinUntil(
        [&] { return second.state() == QProcess::NotRunning && raised == 1; }, 30s))
        << second.readAllStandardError().toStdString();
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    // Ended without a message of its own (Qt may still warn about the environment).
    const std::string messages = second.readAllStandardError().toStdString();
    EXPECT_EQ(messages.find("Veltrane"), std::string::npos) << messages;
    EXPECT_EQ(messages.find("Cannot"), std::string::npos) << messages;
}
#endif

} // namespace
