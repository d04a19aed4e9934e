#include <platform/SingleInstance.h>

#include <testsupport/FileMode.h>
#include <testsupport/TestApp.h>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLockFile>
#include <QTemporaryDir>

namespace {

// Another tool asks whether a program runs by its lock file alone, whoever took the lock.
TEST(PlatformSingleInstance, IsHeldSeesEitherKindOfHolderAndNothingOnceItHasGone) {
    testsupport::App<QCoreApplication>();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/app.lock";
    EXPECT_FALSE(platform::SingleInstance::IsHeld(path)); // no file
    {
        platform::SingleInstance copy(path, "platformtest-");
        ASSERT_EQ(copy.Acquire(), platform::SingleInstance::Result::First);
        EXPECT_TRUE(platform::SingleInstance::IsHeld(path));
        // Looking does not take the lock from the holder.
        EXPECT_TRUE(copy.IsFirst());
        EXPECT_TRUE(platform::SingleInstance::IsHeld(path));
    }
    EXPECT_FALSE(platform::SingleInstance::IsHeld(path)); // the file stays, unlocked
    {
        QLockFile other(QString::fromStdString(path + ".qt"));
        ASSERT_TRUE(other.tryLock(0));
        EXPECT_TRUE(platform::SingleInstance::IsHeld(path + ".qt"));
    }
    EXPECT_FALSE(platform::SingleInstance::IsHeld(path + ".qt"));
}

// A user who could open the lock could hold it and keep the program from ever starting.
TEST(PlatformSingleInstance, TheLockFileMadeIsTheOwnersAlone) {
    testsupport::App<QCoreApplication>();
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = dir.path().toStdString() + "/app.lock";
    testsupport::ScopedUmask usual(022);
    platform::SingleInstance copy(path, "platformtest-");
    ASSERT_EQ(copy.Acquire(), platform::SingleInstance::Result::First);
    EXPECT_EQ(testsupport::PermissionsOf(path), "0600");
}

} // namespace
