#include "app/viewers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#ifndef _WIN32
#include <sys/wait.h>
#endif

#include "scripted_front_end.h"
#include "support/process_watch.h"
#include "support/recorded_programs.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RecordedPrograms;
using testing_support::ScriptedFrontEnd;
using testing_support::TempDir;
using testing_support::WriteFile;

#ifdef _WIN32
constexpr char kViewer[] = "v.exe";
#else
constexpr char kViewer[] = "xdg-open";
#endif

#ifndef _WIN32
// Whether a started program is still a child of this process, ended or not.
bool IsUncollectedChild(const platform::ProcessHandle& process) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(process.value), &info, WEXITED | WNOHANG | WNOWAIT) ==
           0;
}
#endif

// Writes a file and dates it `hours_ago` hours back.
void WriteAged(const TempDir& dir, const std::string& name, int hours_ago) {
    WriteFile(dir.File(name), name);
    fs::last_write_time(dir.File(name),
                        fs::file_time_type::clock::now() - std::chrono::hours(hours_ago));
}

TEST(FindNewestFile, NothingWhenNoFileMatches) {
    TempDir dir;
    WriteFile(dir.File("9712301.sta"), "x");
    EXPECT_EQ(FindNewestFile(dir.File("*.log")), std::nullopt);
    EXPECT_EQ(FindNewestFile(dir.File("missing") + "/*.log"), std::nullopt);
}

TEST(FindNewestFile, ChoosesTheLastWrittenFileWhateverTheListingOrder) {
    TempDir dir;
    // Written in date order, and also written against the name order: the
    // listing order of the directory must not matter.
    WriteAged(dir, "97121.LOG", 50);
    WriteAged(dir, "97123.LOG", 2);
    WriteAged(dir, "97122.LOG", 26);
    WriteAged(dir, "97120.LOG", 1);
    WriteAged(dir, "97124.txt", 0);
    EXPECT_EQ(FindNewestFile(dir.File("*.log")), "97120.LOG");
}

TEST(FindNewestFile, ATieGoesToTheGreaterName) {
    TempDir dir;
    const auto when = fs::file_time_type::clock::now() - std::chrono::hours(1);
    for (const char* name : {"9712301.sta", "9712303.sta", "9712302.sta"}) {
        WriteFile(dir.File(name), "x");
        fs::last_write_time(dir.File(name), when);
    }
    EXPECT_EQ(FindNewestFile(dir.File("*.sta")), "9712303.sta");
}

class Viewers : public ::testing::Test {
protected:
    void TearDown() override {
        EndViewerProcesses();
        ForgetViewerProcesses();
    }
    ScriptedFrontEnd front_end;
};

TEST_F(Viewers, AStartedViewerIsRecordedAndGetsItsArguments) {
    RecordedPrograms programs({kViewer});
    ASSERT_TRUE(LaunchViewer(front_end, {kViewer, {"/E", "/data dir/97123.LOG"}}, "unused"));
    EXPECT_EQ(ViewerProcesses.size(), 1u);
    EXPECT_TRUE(front_end.messages.empty());
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{kViewer, "/E", "/data dir/97123.LOG"}));
}

TEST_F(Viewers, AViewerThatCannotStartShowsTheMessageAndIsNotRecorded) {
    EXPECT_FALSE(
        LaunchViewer(front_end, {"quorvane-missing-viewer", {"x"}}, "Error spawning v.exe."));
#ifdef _WIN32
    EXPECT_EQ(front_end.messages, std::vector<std::string>{"Error spawning v.exe."});
#else  // the program really tried is named
    EXPECT_EQ(front_end.messages,
              std::vector<std::string>{"Error spawning quorvane-missing-viewer."});
#endif
    EXPECT_TRUE(ViewerProcesses.empty());
}

TEST_F(Viewers, ShutdownEndsRunningViewersAndPassesOverClosedOnes) {
    RecordedPrograms programs({kViewer});
    ASSERT_TRUE(LaunchViewer(front_end, {kViewer, {"closed by the operator"}}, "e"));
    ASSERT_EQ(programs.WaitForRuns(1).size(), 1u);
    const platform::ProcessHandle closed = ViewerProcesses.back();
    ASSERT_TRUE(platform::WaitForProcessEnd(closed, 30000));

    programs.StayRunning(true);
    ASSERT_TRUE(LaunchViewer(front_end, {kViewer, {"left open"}}, "e"));
    ASSERT_EQ(programs.WaitForRuns(2).size(), 2u);
    const platform::ProcessHandle open = ViewerProcesses.back();
    EXPECT_EQ(ViewerProcesses.size(), 2u) << "an ended program stays in the list";
    EXPECT_FALSE(platform::WaitForProcessEnd(open, 0));

    const testing_support::ProcessWatch watch(open);
    EndViewerProcesses();
    EXPECT_TRUE(watch.Ended());
#ifndef _WIN32
    // Both are collected: neither lingers as a zombie until the logger ends.
    EXPECT_FALSE(IsUncollectedChild(open));
    EXPECT_FALSE(IsUncollectedChild(closed));
#endif
    EXPECT_TRUE(ViewerProcesses.empty()) << "collected processes are not kept";
}

}  // namespace
