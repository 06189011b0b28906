// The lock of a file: two opens in one process, and real other processes
// (this test executable started again), see each other's lock.
#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/child_test.h"
#include "support/temp_dir.h"

namespace {

using platform::FileLock;
using platform::LockResult;
using platform::LockState;
using testing_support::ReadFile;
using testing_support::RunTestInChildProcess;
using testing_support::TempDir;

// The children work on this file in the current directory, which they share
// with the test that starts them.
constexpr char kChildLock[] = "child.lock";

TEST(FileLock, ASecondOpenFindsItHeldUntilTheFirstLetsGo) {
    TempDir dir;
    const std::string path = dir.File("station.lock");
    EXPECT_EQ(platform::ProbeFileLock(path), LockState::kMissing);

    FileLock first;
    std::string error;
    ASSERT_EQ(first.Acquire(path, "4242\n", error), LockResult::kLocked) << error;
    EXPECT_TRUE(first.IsHeld());
    EXPECT_EQ(ReadFile(path), "4242\n") << "the holder's text, readable while it is held";
    EXPECT_EQ(platform::ProbeFileLock(path), LockState::kHeld);

    FileLock second;
    EXPECT_EQ(second.Acquire(path, "7\n", error), LockResult::kHeld);
    EXPECT_FALSE(second.IsHeld());
    EXPECT_EQ(ReadFile(path), "4242\n") << "the refused one leaves the content alone";
    // Looking does not take it: the holder's lock stays, the probe goes.
    EXPECT_EQ(platform::ProbeFileLock(path), LockState::kHeld);

    first.Release();
    EXPECT_EQ(platform::ProbeFileLock(path), LockState::kFree);
    ASSERT_EQ(second.Acquire(path, "7\n", error), LockResult::kLocked) << error;
    EXPECT_EQ(ReadFile(path), "7\n") << "a longer old content is cut";
}

TEST(FileLock, AFileThatCannotBeCreatedFailsWithTheSystemsReason) {
    TempDir dir;
    FileLock lock;
    std::string error;
    EXPECT_EQ(lock.Acquire(dir.File("missing") + "/x.lock", "1\n", error), LockResult::kFailed);
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(lock.IsHeld());
}

TEST(FileLockChild, DISABLED_FindsItHeld) {
    FileLock lock;
    std::string error;
    EXPECT_EQ(platform::ProbeFileLock(kChildLock), LockState::kHeld);
    EXPECT_EQ(lock.Acquire(kChildLock, "child\n", error), LockResult::kHeld) << error;
}

TEST(FileLockChild, DISABLED_TakesItAndEnds) {
    FileLock lock;
    std::string error;
    ASSERT_EQ(lock.Acquire(kChildLock, "child\n", error), LockResult::kLocked) << error;
    // Ends without releasing it: the lock must go with the process.
    std::exit(0);
}

TEST(FileLock, AnotherProcessFindsItHeldAndALockDiesWithItsProcess) {
    TempDir dir;
    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    {
        FileLock mine;
        std::string error;
        ASSERT_EQ(mine.Acquire(kChildLock, "parent\n", error), LockResult::kLocked) << error;
        EXPECT_EQ(RunTestInChildProcess("FileLockChild.DISABLED_FindsItHeld"), 0);
    }
    EXPECT_EQ(RunTestInChildProcess("FileLockChild.DISABLED_TakesItAndEnds"), 0);
    EXPECT_EQ(ReadFile(kChildLock), "child\n");
    EXPECT_EQ(platform::ProbeFileLock(kChildLock), LockState::kFree);
    FileLock after;
    std::string error;
    EXPECT_EQ(after.Acquire(kChildLock, "parent\n", error), LockResult::kLocked) << error;
    after.Release();
    std::filesystem::current_path(previous);
}

}  // namespace
