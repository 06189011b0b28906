// The checked append behind every log, data and statistics file, and the
// durable file behind the journals: real files, a full disk made by the
// write-fault seam everywhere and by a small tmpfs where mounting is allowed.
#include <gtest/gtest.h>

#include <string>

#include "platform/durable_file.h"
#include "platform/files.h"
#include "support/small_disk.h"
#include "support/temp_dir.h"
#include "support/write_faults.h"

namespace {

using testing_support::InTextMode;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFaults;
using testing_support::WriteFile;

int Append(const std::string& path, const std::string& text,
           const platform::AppendOptions& options = {}) {
    platform::TextPieces pieces;
    pieces.Add(text);
    return platform::AppendToFile(path.c_str(), pieces, options);
}

TEST(CheckedAppend, AppendsInTextFormAndLeavesTheFileReadOnly) {
    TempDir dir;
    const std::string path = dir.File("a.LOG");
    platform::AppendOptions sync;
    sync.sync = true;
    EXPECT_EQ(Append(path, "one\n"), platform::kAppendOk);
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    EXPECT_EQ(Append(path, "two\n", sync), platform::kAppendOk);
    EXPECT_EQ(ReadFile(path), InTextMode("one\ntwo\n"));
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
}

TEST(CheckedAppend, TextPiecesTranslateLongTextsInSlicesWithoutLosingAByte) {
    std::string text;
    for (int i = 0; i < 40000; ++i) {
        text += std::to_string(i) + (i % 3 == 0 ? "\n" : " ");
    }
    ASSERT_GT(text.size(), 3u * 64 * 1024);
    platform::TextPieces pieces({"head\n", text, "", "tail"});
    std::string out;
    for (int pass = 0; pass < 2; ++pass) {  // a second pass after Rewind gives the same
        pieces.Rewind();
        out.clear();
        for (std::string_view piece = pieces.Next(); !piece.empty(); piece = pieces.Next()) {
            out.append(piece);
        }
        EXPECT_EQ(out, InTextMode("head\n" + text + "tail"));
    }
}

TEST(CheckedAppend, HandsTheLengthBeforeTheWriteToTheHookAndHonoursARefusal) {
    TempDir dir;
    const std::string path = dir.File("b.P01");
    ASSERT_EQ(Append(path, "12345"), platform::kAppendOk);
    uint64_t seen = 0;
    platform::AppendOptions options;
    options.before_write = [&](uint64_t length) {
        seen = length;
        return false;
    };
    EXPECT_EQ(Append(path, "more"), platform::kAppendOk);
    EXPECT_EQ(Append(path, "refused", options), platform::kAppendRefused);
    EXPECT_EQ(seen, 9u);
    EXPECT_EQ(ReadFile(path), "12345more");
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));

    // A refused append of a new file leaves no empty file behind.
    const std::string fresh = dir.File("c.P01");
    EXPECT_EQ(Append(fresh, "x", options), platform::kAppendRefused);
    EXPECT_FALSE(platform::PathExists(fresh.c_str()));
}

TEST(CheckedAppend, AShortWritePutsTheFileBackAndANewFileIsRemovedAgain) {
    TempDir dir;
    const std::string path = dir.File("d.P02");
    ASSERT_EQ(Append(path, "kept\n"), platform::kAppendOk);
    WriteFaults faults;
    // The second of three pieces comes out short.
    faults.ShortenWrite("d.P02", 2, 3);
    platform::TextPieces pieces({"first piece ", "second piece ", "third piece"});
    EXPECT_EQ(platform::AppendToFile(path.c_str(), pieces), platform::kAppendWriteFailed);
    EXPECT_EQ(ReadFile(path), InTextMode("kept\n"));
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));

    faults.LimitPathsContaining("e.P02", 0);
    const std::string fresh = dir.File("e.P02");
    EXPECT_EQ(Append(fresh, "nothing fits"), platform::kAppendWriteFailed);
    EXPECT_FALSE(platform::PathExists(fresh.c_str()));

    faults.Clear();  // space is back
    EXPECT_EQ(Append(path, "again\n"), platform::kAppendOk);
    EXPECT_EQ(ReadFile(path), InTextMode("kept\nagain\n"));
}

TEST(CheckedAppend, AFileHeldByAnotherWriterIsNotTouched) {
    TempDir dir;
    const std::string path = dir.File("f.sta");
    ASSERT_EQ(Append(path, "before"), platform::kAppendOk);
    platform::SetReadOnly(path.c_str(), false);
    std::FILE* other = platform::OpenAppendDenyWrite(path.c_str());
    ASSERT_NE(other, nullptr);
    EXPECT_EQ(Append(path, "during"), platform::kAppendOpenFailed);
    platform::CloseLocked(other);
    EXPECT_EQ(ReadFile(path), "before");
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
}

TEST(CheckedAppend, TruncateAndRemoveKeepOrClearTheReadOnlyAttribute) {
    TempDir dir;
    const std::string path = dir.File("g.P03");
    ASSERT_EQ(Append(path, "0123456789"), platform::kAppendOk);
    EXPECT_EQ(platform::FileLength(path.c_str()), 10);
    EXPECT_TRUE(platform::TruncateFile(path.c_str(), 4));
    EXPECT_EQ(ReadFile(path), "0123");
    EXPECT_TRUE(platform::IsReadOnly(path.c_str()));
    EXPECT_TRUE(platform::RemoveFile(path.c_str()));
    EXPECT_EQ(platform::FileLength(path.c_str()), -1);
}

TEST(DurableFile, WritesAtOffsetsReadsBackTruncatesAndIsHeldByOneOpener) {
    TempDir dir;
    const std::string path = dir.File("Port1");
    platform::DurableFile file;
    ASSERT_TRUE(file.Open(path));
    ASSERT_TRUE(file.WriteAt(0, "abcdef", 6));
    ASSERT_TRUE(file.WriteAt(2, "XY", 2));
    ASSERT_TRUE(file.WriteAt(6, "gh", 2));
    EXPECT_TRUE(file.Sync());
    EXPECT_EQ(file.Size(), 8);
    char back[16] = {};
    EXPECT_EQ(file.ReadAt(1, back, sizeof back), 7);
    EXPECT_EQ(std::string(back, 7), "bXYefgh");
    EXPECT_EQ(file.ReadAt(8, back, 4), 0);
    EXPECT_TRUE(file.Truncate(3));
    EXPECT_EQ(file.Size(), 3);

    platform::DurableFile second;
    EXPECT_FALSE(second.Open(path));  // the first opener holds it
    file.Close();
    EXPECT_TRUE(second.Open(path));
    EXPECT_EQ(second.Size(), 3);
}

TEST(DurableFile, AWriteTheDiskRefusesReportsFailure) {
    TempDir dir;
    platform::DurableFile file;
    ASSERT_TRUE(file.Open(dir.File("Port2")));
    WriteFaults faults;
    faults.ShortenWrite("Port2", 1, 2);
    EXPECT_FALSE(file.WriteAt(0, "abcdef", 6));
    EXPECT_TRUE(file.WriteAt(0, "abcdef", 6));
    EXPECT_EQ(file.Size(), 6);
}

TEST(SmallDiskFull, AppendsThatDoNotFitLeaveTheFilesAsTheyWere) {
    TempDir dir;
    testing_support::SmallDisk disk(dir.File("disk"), 256 * 1024);
    if (!disk.ok()) {
        GTEST_SKIP() << disk.error();
    }
    const std::string path = disk.path() + "/h.P04";
    ASSERT_EQ(Append(path, "small\n"), platform::kAppendOk);
    disk.FillLeaving(4096);
    const std::string big(64 * 1024, 'x');
    EXPECT_EQ(Append(path, big), platform::kAppendWriteFailed);
    EXPECT_EQ(ReadFile(path), "small\n");
    platform::DurableFile journal;
    ASSERT_TRUE(journal.Open(disk.path() + "/Port4"));
    EXPECT_FALSE(journal.WriteAt(0, big.data(), big.size()));
    EXPECT_TRUE(journal.Truncate(0));

    disk.Free();
    EXPECT_EQ(Append(path, big), platform::kAppendOk);
    EXPECT_TRUE(ReadFile(path) == "small\n" + big);
    EXPECT_TRUE(journal.WriteAt(0, big.data(), big.size()));
}

}  // namespace
