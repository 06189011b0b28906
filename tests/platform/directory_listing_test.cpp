#include "platform/directory_listing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using platform::MatchesPattern;
using testing_support::TempDir;
using testing_support::WriteFile;

TEST(DirectoryListing, PatternsIgnoreCase) {
    EXPECT_TRUE(MatchesPattern("*.log", "97123.LOG"));
    EXPECT_TRUE(MatchesPattern("*.LOG", "97123.log"));
    EXPECT_FALSE(MatchesPattern("*.log", "97123.LOGX"));
    EXPECT_FALSE(MatchesPattern("*.log", "97123.sta"));
    EXPECT_TRUE(MatchesPattern("*.P*", "9712314.P01"));
    EXPECT_TRUE(MatchesPattern("*.P*", "a.b.p"));
    EXPECT_FALSE(MatchesPattern("*.P*", "9712314.sta"));
    EXPECT_TRUE(MatchesPattern("97???.LOG", "97123.LOG"));
    EXPECT_FALSE(MatchesPattern("97???.LOG", "9712.LOG"));
    EXPECT_TRUE(MatchesPattern("*", ""));
    EXPECT_FALSE(MatchesPattern("", "x"));
}

TEST(DirectoryListing, ListsMatchingRegularFilesWithTheirWriteTimes) {
    TempDir dir;
    WriteFile(dir.File("97123.LOG"), "a");
    WriteFile(dir.File("97124.log"), "b");
    WriteFile(dir.File("9712301.sta"), "c");
    fs::create_directory(dir.File("folder.log"));
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(5);
    fs::last_write_time(dir.File("97123.LOG"), when);

    auto entries = platform::ListMatchingFiles(dir.path(), "*.log");
    std::sort(entries.begin(), entries.end(),
              [](const auto& a, const auto& b) { return a.name < b.name; });
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "97123.LOG");
    EXPECT_EQ(entries[1].name, "97124.log");
    EXPECT_LT(entries[0].last_write_ns, entries[1].last_write_ns);
    const auto stored = fs::last_write_time(dir.File("97123.LOG"));
    EXPECT_EQ(
        entries[0].last_write_ns,
        std::chrono::duration_cast<std::chrono::nanoseconds>(stored.time_since_epoch()).count());
}

TEST(DirectoryListing, AMissingDirectoryListsNothing) {
    TempDir dir;
    EXPECT_TRUE(platform::ListMatchingFiles(dir.File("missing"), "*").empty());
}

}  // namespace
