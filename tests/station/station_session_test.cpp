// A logger's hold on its output directory: one logger per directory.
#include "station/station_session.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "config/com_config.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
namespace fs = std::filesystem;

class Session : public ::testing::Test {
protected:
    Session() { ResetStatusTexts(); }
    TempDir dir_;
    std::string message_;
};

TEST_F(Session, ASecondLoggerInTheDirectoryIsRefusedAndToldWhoHoldsIt) {
    StationSession first;
    ASSERT_EQ(first.Claim(dir_.path(), message_), StationClaim::kClaimed) << message_;
    EXPECT_TRUE(first.IsOpen());
    EXPECT_EQ(ReadFile(dir_.File("quorvane.lock")),
              std::to_string(platform::OwnProcessId()) + "\n");
    EXPECT_TRUE(fs::exists(dir_.File("quorvane-status.json")));

    StationSession second;
    EXPECT_EQ(second.Claim(dir_.path(), message_), StationClaim::kBusy);
    EXPECT_FALSE(second.IsOpen());
    EXPECT_EQ(ExitStatusOf(StationClaim::kBusy), 75);
    EXPECT_EQ(message_, "Another Quorvane logger (process " +
                            std::to_string(platform::OwnProcessId()) + ") already writes to " +
                            dir_.path() +
                            ".\nOnly one logger may use an output directory: stop that one "
                            "first, or give this one\nanother OutputDriveAndPath in "
                            "Quorvane.ini.\n");

    first.Close();
    EXPECT_EQ(platform::ProbeFileLock(dir_.File("quorvane.lock")), platform::LockState::kFree);
    EXPECT_EQ(second.Claim(dir_.path(), message_), StationClaim::kClaimed) << message_;
}

TEST_F(Session, ClaimingItsOwnDirectoryAgainKeepsItAndAnotherOneMovesTheClaim) {
    StationSession session;
    ASSERT_EQ(session.Claim(dir_.path(), message_), StationClaim::kClaimed);
    // The same directory, also under another name, is no second logger.
    EXPECT_EQ(session.Claim(dir_.path(), message_), StationClaim::kClaimed);
    EXPECT_EQ(session.Claim(dir_.path() + platform::kPathSeparator, message_),
              StationClaim::kClaimed);

    TempDir other;
    ASSERT_EQ(session.Claim(other.path(), message_), StationClaim::kClaimed);
    EXPECT_EQ(session.Directory(), other.path());
    EXPECT_EQ(platform::ProbeFileLock(dir_.File("quorvane.lock")), platform::LockState::kFree)
        << "the old directory is let go";
    EXPECT_EQ(platform::ProbeFileLock(other.File("quorvane.lock")), platform::LockState::kHeld);

    // A directory held by someone else: the session keeps what it had.
    StationSession intruder;
    ASSERT_EQ(intruder.Claim(dir_.path(), message_), StationClaim::kClaimed);
    EXPECT_EQ(session.Claim(dir_.path(), message_), StationClaim::kBusy);
    EXPECT_EQ(session.Directory(), other.path());
    EXPECT_EQ(platform::ProbeFileLock(other.File("quorvane.lock")), platform::LockState::kHeld);
}

TEST_F(Session, ALockFileThatCannotBeMadeIsExplained) {
    StationSession session;
    const std::string missing = dir_.File("gone");
    EXPECT_EQ(session.Claim(missing, message_), StationClaim::kUnusable);
    EXPECT_EQ(ExitStatusOf(StationClaim::kUnusable), 73);
    EXPECT_EQ(message_.rfind("The lock file " + platform::JoinPath(missing, "quorvane.lock") +
                                 " cannot be created: ",
                             0),
              0u)
        << message_;
    // It says how to repair it, for the user that runs the logger.
    const std::string user = platform::CurrentUserName();
#ifdef _WIN32
    EXPECT_NE(message_.find("To repair it, give " + user + " (who runs the logger) the right to "
                            "create files in " + missing + ".\n"),
              std::string::npos)
        << message_;
#else
    EXPECT_NE(message_.find("To repair it, make the directory for " + user +
                            " (who runs the logger): sudo install -d -o " + user + " " + missing +
                            "\n"),
              std::string::npos)
        << message_;
    // One that exists but takes no file (here a plain file: root may write
    // anywhere else) is to be given to the user.
    const std::string taken = dir_.File("taken");
    testing_support::WriteFile(taken, "x");
    EXPECT_EQ(session.Claim(taken, message_), StationClaim::kUnusable);
    EXPECT_NE(message_.find("To repair it, give the directory to " + user +
                            " (who runs the logger): sudo chown -R " + user + ": " + taken + "\n"),
              std::string::npos)
        << message_;
#endif
    EXPECT_FALSE(session.IsOpen());
}

TEST_F(Session, LockHolderIsReadFromTheLockFile) {
    testing_support::WriteFile(dir_.File("a.lock"), "1234\n");
    testing_support::WriteFile(dir_.File("b.lock"), "");
    testing_support::WriteFile(dir_.File("c.lock"), "12x\n");
    EXPECT_EQ(LockHolderOf(dir_.File("a.lock")), 1234);
    EXPECT_EQ(LockHolderOf(dir_.File("b.lock")), 0);
    EXPECT_EQ(LockHolderOf(dir_.File("c.lock")), 0);
    EXPECT_EQ(LockHolderOf(dir_.File("none.lock")), 0);
    EXPECT_EQ(StationBusyMessage("D:\\DATA", 0)
                  .rfind("Another Quorvane logger already writes to "
                         "D:\\DATA.\n",
                         0),
              0u);
}

TEST(StartupLog, NoDirectoryNamedMeansNoLogEntry) {
    TempDir dir;
    const auto previous = fs::current_path();
    fs::current_path(dir.path());
    ComConfig config{};
    char empty[] = "";
    config.OutputDriveAndPath = empty;
    LogToOutputDirectory(config, "01  Quorvane Startup - Initialization error...program aborted.");
    config.OutputDriveAndPath = nullptr;
    LogToOutputDirectory(config, "01  Quorvane Startup - Initialization error...program aborted.");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 0);

    std::string output = dir.path();
    config.OutputDriveAndPath = output.data();
    LogToOutputDirectory(config, "01  Quorvane Startup - Initialization error...program aborted.");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
    fs::current_path(previous);
}

}  // namespace
