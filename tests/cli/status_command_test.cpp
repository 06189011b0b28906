// quorvane-cli status: the lock tells whether a logger runs, the status file
// what its page shows.
#include "cli/status_command.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "platform/fake_clock.h"
#include "platform/file_lock.h"
#include "station/station_session.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

class StatusCommand : public ::testing::Test {
protected:
    StatusCommand() {
        ResetStatusTexts();
        std::filesystem::create_directory(output_);
    }
    ~StatusCommand() override {
        ResetStatusTexts();
        ClearPortFailures();
    }

    int Run(std::optional<std::string> directory, bool json = false) {
        out_.str("");
        err_.str("");
        return RunStatus({std::move(directory), json}, out_, err_);
    }

    platform::FakeClock clock_{platform::FakeClock::EpochMs(2024, 3, 1, 10, 7, 30)};
    platform::ClockScope scope_{clock_};
    TempDir station_;
    std::string output_ = station_.File("data");
    std::ostringstream out_;
    std::ostringstream err_;
};

TEST_F(StatusCommand, ARunningLoggersPageIsPrintedWithItsProblemsMarked) {
    StationSession logger;
    std::string message;
    ASSERT_EQ(logger.Claim(output_, message), StationClaim::kClaimed) << message;
    SetPortFailure(2, "COM2 (/dev/ttyUSB7) cannot be used: No such file or directory");
    {
        StatusDrawBlock block(nullptr);
        block.Set(kStatusAcquisition, "Enabled on 03-01-24 at 10:07:30 UTC", kDarkGreen);
        block.Set(kStatusPortErrors, "COM2" + std::string(57, ' '), kRed);
    }
    EXPECT_EQ(Run(output_), kStatusExitProblem) << err_.str();
    EXPECT_EQ(out_.str(), "A Quorvane logger runs in " + output_ + " (process " +
                              std::to_string(platform::OwnProcessId()) +
                              "). Its status page, of 2024-03-01 10:07:30 UTC:\n\n"
                              "Data acquisition:       Enabled on 03-01-24 at 10:07:30 UTC\n"
                              "Diagnostic statistics:  Disabled\n"
                              "Ports currently open:   None\n"
                              "Port errors:            COM2  (!)\n"
                              "Received data from:     None\n"
                              "Buffer overflows:       None\n"
                              "Last status update:     None\n"
                              "Next status update:     None\n"
                              "  COM2 (/dev/ttyUSB7) cannot be used: No such file or directory\n");
    EXPECT_EQ(Run(output_, true), kStatusExitProblem);
    EXPECT_EQ(out_.str(), ReadFile(output_ + "/quorvane-status.json"));
    ClearPortFailure(2);  // the port opened after all
    {
        StatusDrawBlock block(nullptr);
        block.Set(kStatusPortErrors, "None", kDarkGreen);
    }
    EXPECT_EQ(Run(output_), 0) << "no line is a problem any more";
    EXPECT_EQ(out_.str().find("cannot be used"), std::string::npos) << out_.str();
}

TEST_F(StatusCommand, NoLoggerRunsWhereNobodyHoldsTheLockWhateverTheFileSays) {
    EXPECT_EQ(Run(output_), kStatusExitNotRunning);
    EXPECT_EQ(out_.str(), "No Quorvane logger runs in " + output_ + ".\n");
    {
        StationSession logger;
        std::string message;
        ASSERT_EQ(logger.Claim(output_, message), StationClaim::kClaimed);
        clock_.AdvanceMs(3600 * 1000);
        StatusDrawBlock block(nullptr);
        block.Set(kStatusPortsOpen, "COM1", kDarkGreen);
    }
    // The logger is gone (as after a crash, the file says it opened COM1).
    EXPECT_EQ(Run(output_), 3);
    EXPECT_EQ(out_.str().rfind("No Quorvane logger runs in " + output_ +
                                   ".\nIts last status page, of 2024-03-01 11:07:30 UTC:\n\n",
                               0),
              0u)
        << out_.str();
    EXPECT_NE(out_.str().find("Ports currently open:   COM1\n"), std::string::npos);
    EXPECT_EQ(Run(output_, true), 3);
    EXPECT_EQ(out_.str(), "No Quorvane logger runs in " + output_ + ".\n");
}

TEST_F(StatusCommand, AMissingDirectoryIsToldAsSuch) {
    EXPECT_EQ(Run(output_ + "/not-there"), kStatusExitNotRunning);
    EXPECT_EQ(out_.str(), "");
    EXPECT_EQ(err_.str(), "quorvane-cli status: there is no directory " + output_ + "/not-there\n");
}

TEST_F(StatusCommand, ALoggerWithoutAReadableFileIsRunningButUnknown) {
    platform::FileLock lock;
    std::string error;
    ASSERT_EQ(lock.Acquire(output_ + "/quorvane.lock", "4321\n", error),
              platform::LockResult::kLocked);
    EXPECT_EQ(Run(output_), kStatusExitUnknown);
    EXPECT_EQ(err_.str(), "quorvane-cli status: a Quorvane logger (process 4321) runs in " +
                              output_ + ", but its status file cannot be read\n");
    WriteFile(output_ + "/quorvane-status.json", "{\"program\": \"Quorvane\"");
    EXPECT_EQ(Run(output_), 4);
}

TEST_F(StatusCommand, TheDirectoryIsFoundFromAStationDirectoryOrTheCurrentOne) {
    StationSession logger;
    std::string message;
    ASSERT_EQ(logger.Claim(output_, message), StationClaim::kClaimed);
    // A station directory: its Quorvane.ini names the output directory, even
    // one the reader refuses otherwise (the rest of the file is missing).
    WriteFile(station_.File("Quorvane.ini"), "[QUORVANE]\nOutputDriveAndPath=" + output_ + "\n");
    EXPECT_EQ(StatusDirectoryOf(station_.path()), output_);
    EXPECT_EQ(StatusDirectoryOf(output_), output_);
    EXPECT_EQ(Run(station_.path()), 0) << err_.str();

    const auto previous = std::filesystem::current_path();
    std::filesystem::current_path(station_.path());
    EXPECT_EQ(StatusDirectoryOf(std::nullopt), output_);
    EXPECT_EQ(Run(std::nullopt), 0);
    std::filesystem::current_path(previous);

    TempDir elsewhere;
    EXPECT_EQ(StatusDirectoryOf(elsewhere.path()), elsewhere.path());
    EXPECT_EQ(Run(elsewhere.path()), 3);
}

}  // namespace
