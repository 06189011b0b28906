#include <gtest/gtest.h>

#include <filesystem>

#include "platform/files.h"
#include "support/temp_dir.h"

namespace {

using platform::DirectoryAccess;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(Files, ReadOnlyAttributeIsSetAndCleared) {
    TempDir dir;
    const std::string path = dir.File("a.txt");
    WriteFile(path, "x");
    EXPECT_FALSE(platform::IsReadOnly(path.c_str()));
    platform::SetReadOnly(path.c_str(), true);
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    platform::SetReadOnly(path.c_str(), false);
    EXPECT_FALSE(platform::IsReadOnly(path.c_str()));
}

TEST(Files, AppendCreatesAndAppends) {
    TempDir dir;
    const std::string path = dir.File("log.txt");
    EXPECT_FALSE(platform::PathExists(path.c_str()));
    for (const char* text : {"one\n", "two\n"}) {
        std::FILE* file = platform::OpenAppendDenyWrite(path.c_str());
        ASSERT_NE(file, nullptr);
        std::fputs(text, file);
        EXPECT_EQ(platform::CloseLocked(file), 0);
    }
    EXPECT_TRUE(platform::PathExists(path.c_str()));
#ifdef _WIN32
    EXPECT_EQ(ReadFile(path), "one\r\ntwo\r\n");  // text mode
#else
    EXPECT_EQ(ReadFile(path), "one\ntwo\n");
#endif
}

TEST(Files, SecondWriterIsDeniedWhileTheFirstHoldsTheFile) {
    TempDir dir;
    const std::string path = dir.File("locked.txt");
    std::FILE* first = platform::OpenAppendDenyWrite(path.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(platform::OpenAppendDenyWrite(path.c_str()), nullptr);
    platform::CloseLocked(first);
    std::FILE* again = platform::OpenAppendDenyWrite(path.c_str());
    EXPECT_NE(again, nullptr);
    platform::CloseLocked(again);
}

TEST(Files, OpenFailsInAMissingDirectory) {
    TempDir dir;
    EXPECT_EQ(platform::OpenAppendDenyWrite(dir.File("nowhere/x.txt").c_str()), nullptr);
}

TEST(Files, DirectoryWriteTestTellsMissingFromWritable) {
    TempDir dir;
    EXPECT_EQ(platform::TestDirectoryWritable(dir.path().c_str()), DirectoryAccess::kWritable);
    EXPECT_EQ(platform::TestDirectoryWritable(dir.File("missing").c_str()),
              DirectoryAccess::kMissing);
    EXPECT_EQ(platform::TestDirectoryWritable(dir.File("missing/deeper").c_str()),
              DirectoryAccess::kMissing);
    WriteFile(dir.File("plain"), "not a directory");
    EXPECT_EQ(platform::TestDirectoryWritable(dir.File("plain").c_str()),
              DirectoryAccess::kMissing);
}

TEST(Files, JoinPathUsesThePlatformSeparator) {
    EXPECT_EQ(platform::JoinPath("D", "f"), std::string("D") + platform::kPathSeparator + "f");
}

}  // namespace

#ifndef _WIN32
#include <unistd.h>

namespace {

// Permission bits do not bind root, so the denied case runs in a child
// process that has given up its privileges.
TEST(FilesDeathTest, DirectoryWriteTestTellsDeniedFromMissing) {
    TempDir dir;
    const std::string locked = dir.File("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked, std::filesystem::perms(0555));
    EXPECT_EXIT(
        {
            if (getuid() == 0 && setuid(65534) != 0) {
                std::exit(3);
            }
            const bool denied =
                platform::TestDirectoryWritable(locked.c_str()) == DirectoryAccess::kDenied;
            const bool missing = platform::TestDirectoryWritable((locked + "/x").c_str()) ==
                                 DirectoryAccess::kMissing;
            std::exit(denied && missing ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
#endif
