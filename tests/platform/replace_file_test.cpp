#include "platform/replace_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

TEST(ReplaceFileContent, ANewFileTakesTheNameAndLeavesNoTemporaryFile) {
    TempDir dir;
    const std::string path = dir.File("page.json");
    ASSERT_TRUE(platform::ReplaceFileContent(path, "first\n"));
    EXPECT_EQ(ReadFile(path), "first\n");
#ifndef _WIN32
    // A reader that opened the old file keeps all of it: the name moved to a
    // new file, nothing was written into the old one.
    std::ifstream reader(path, std::ios::binary);
    ASSERT_TRUE(reader);
#endif
    ASSERT_TRUE(platform::ReplaceFileContent(path, "second, longer\n"));
    EXPECT_EQ(ReadFile(path), "second, longer\n");
#ifndef _WIN32
    std::string old_line;
    std::getline(reader, old_line);
    EXPECT_EQ(old_line, "first");
    EXPECT_TRUE(reader.good()) << "the line end of the old content was there too";
#endif
    EXPECT_FALSE(fs::exists(path + ".tmp"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(ReplaceFileContent, AFailedReplacementLeavesTheOldFile) {
    TempDir dir;
    EXPECT_FALSE(platform::ReplaceFileContent(dir.File("missing") + "/page.json", "x"));
    const std::string path = dir.File("page.json");
    ASSERT_TRUE(platform::ReplaceFileContent(path, "kept\n"));
    // A directory in the temporary file's place makes the write fail.
    fs::create_directory(path + ".tmp");
    EXPECT_FALSE(platform::ReplaceFileContent(path, "lost\n"));
    EXPECT_EQ(ReadFile(path), "kept\n");
}

}  // namespace
