// quorvane-cli run in-process: a station directory with Quorvane.ini and a pty
// instrument, stopped by SIGTERM as a service manager would.
#include "cli/run_command.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <pthread.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>

#include "acquisition/acquisition_thread.h"
#include "acquisition/journal.h"
#include "cli/status_command.h"
#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "platform/file_lock.h"
#include "platform/service_notify.h"
#include "pty_pair.h"
#include "station/station_session.h"
#include "support/child_test.h"
#include "support/engine_harness.h"
#include "support/notify_listener.h"
#include "support/temp_dir.h"

namespace {

using engine_testing::LogMessages;
using engine_testing::Probe;
using testing_support::NotifyListener;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

std::string Ini(const std::string& output, const std::string& device) {
    return "[QUORVANE]\n"
           "OutputDriveAndPath=" +
           output +
           "\n"
           "WatchDogTimerAddressInHex=NONE\n"
           "DiskWriteAndStatsFrequencyInMinutes=1\n"
           "[COM1]\n"
           "Device=" +
           device +
           "\n"
           "InstrumentType=Thermo\n"
           "StartupInitializationFunction=NONE\n"
           "AcquisitionInitializationFunction=NONE\n"
           "Baud=9600\nParity=N\nDataBits=8\nStopBits=1\nDoStats=NO\n"
           "StringTerminationCharacter=10\nLeadingTokenCharactersToStrip=0\n"
           "TokenIndicesForStatistics=NONE\nTokenLabelsForStatistics=NONE\n"
           "ErrorCheckingTokenIndices=NONE\nErrorValuesPerTokenIndex=NONE\n";
}

// Everything written to a temporary file so far.
std::string WrittenTo(std::FILE* file) {
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char chunk[512];
    while (size_t got = std::fread(chunk, 1, sizeof chunk, file)) {
        text.append(chunk, got);
    }
    return text;
}

// Runs in the station directory and returns to the old one afterwards.
class RunCommand : public ::testing::Test {
protected:
    RunCommand()
        : clock_(platform::FakeClock::EpochMs(2024, 3, 1, 10, 7, 30)),
          clock_scope_(clock_),
          previous_(std::filesystem::current_path()) {
        std::filesystem::create_directory(data_);
        std::filesystem::current_path(station_.path());
        SetAcquisitionProbe(&probe_);
        // Text a run cannot write goes here, not to the home of whoever tests.
        setenv("QUORVANE_RESCUE_DIRECTORY", station_.File("rescue").c_str(), 1);
    }
    ~RunCommand() override {
        unsetenv("QUORVANE_RESCUE_DIRECTORY");
        SetAcquisitionProbe(nullptr);
        std::filesystem::current_path(previous_);
        if (status_ != nullptr) {
            std::fclose(status_);
        }
    }
    std::string StatusOutput() { return WrittenTo(status_); }

    // Neither a journal nor the data file of 10:00 can be made in the output
    // directory.
    void BlockJournalAndDataFile() {
        WriteFile(data_ + "/journal", "not a folder\n");
        std::filesystem::create_directory(data_ + "/2406110.P01");
    }

    // Runs the logger until, once acquisition polls, the instrument has sent
    // one record and the logger has received it; then `stop` (a signal) ends
    // the run, as an operator or the service manager would. The run's exit
    // status; its standard error in `error` when asked for.
    int RunUntilOneRecordThenStop(sim::PtyPair& instrument, int stop, std::FILE* out,
                                  std::string* error = nullptr) {
        const pthread_t runner = pthread_self();
        std::thread operator_([&] {
            ASSERT_TRUE(probe_.WaitForPasses(1));
            ASSERT_TRUE(instrument.Write("21.5 1013\n"));
            ASSERT_TRUE(probe_.WaitForReceived(0, 10));
            pthread_kill(runner, stop);
        });
        if (error != nullptr) {
            testing::internal::CaptureStderr();
        }
        const int status = RunHeadless(std::nullopt, out);
        if (error != nullptr) {
            *error = testing::internal::GetCapturedStderr();
        }
        operator_.join();
        return status;
    }
    std::string Log() { return ReadFile(LogFilePath(data_.c_str(), platform::Now())); }

    // The clock stands still: no period ends while a test runs.
    platform::FakeClock clock_;
    platform::ClockScope clock_scope_;
    TempDir station_;
    std::string data_ = station_.File("data");
    std::filesystem::path previous_;
    Probe probe_;
    std::FILE* status_ = std::tmpfile();
};

TEST_F(RunCommand, RunsUntilSigtermThenFlushesAndLogsTheShutdown) {
    sim::PtyPair instrument;
    ASSERT_TRUE(instrument.ok());
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, instrument.path()));

    // The service manager asks the logger to stop.
    EXPECT_EQ(RunUntilOneRecordThenStop(instrument, SIGTERM, status_), 0);

    const auto messages = LogMessages(Log());
    ASSERT_GE(messages.size(), 5u);
    EXPECT_EQ(messages.front(),
              "00  Quorvane Startup - Settings acquired from Quorvane.ini and quality controlled "
              "successfully.");
    EXPECT_EQ(messages[1], "03  Data acquisition thread started.");
    EXPECT_EQ(messages[messages.size() - 2], "04  Data acquisition thread stopped.");
    EXPECT_EQ(messages.back(), "02  Quorvane Shutdown.");

    // The text reached its data file, closed by an end marker.
    EXPECT_EQ(ReadFile(data_ + "/2406110.P01"),
              "Thermo\n03/01/24 10:07:30:000 StartTime\n21.5 1013\n"
              "03/01/24 10:07:30:000 EndTime\n");

    // One line per change, trailing blanks trimmed, ending with the stop.
    const std::string out = StatusOutput();
    EXPECT_NE(out.find("Data acquisition: Enabled on "), std::string::npos) << out;
    EXPECT_NE(out.find("Diagnostic statistics: Enabled - 1 minute calculations\n"),
              std::string::npos);
    EXPECT_NE(out.find("Ports currently open: COM1\n"), std::string::npos);
    EXPECT_NE(out.find("Received data from: First update at "), std::string::npos);
    EXPECT_EQ(out.find(" \n"), std::string::npos);
    const std::string end = "Data acquisition: Disabled\n";
    ASSERT_GE(out.size(), end.size());
    EXPECT_EQ(out.substr(out.size() - end.size()), end);
}

// The ssh session that started the run drops: the run ends as on SIGTERM,
// with its final flush and entries 04 and 02, even though its output now goes
// nowhere.
TEST_F(RunCommand, AHangUpEndsTheRunInOrderToo) {
    sim::PtyPair instrument;
    ASSERT_TRUE(instrument.ok());
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, instrument.path()));
    int pipe_ends[2];
    ASSERT_EQ(::pipe(pipe_ends), 0);
    ::close(pipe_ends[0]);  // nobody reads the status lines any more
    std::FILE* gone = ::fdopen(pipe_ends[1], "w");
    ASSERT_NE(gone, nullptr);

    EXPECT_EQ(RunUntilOneRecordThenStop(instrument, SIGHUP, gone), 0);
    std::fclose(gone);
    const auto messages = LogMessages(Log());
    ASSERT_GE(messages.size(), 2u);
    EXPECT_EQ(messages[messages.size() - 2], "04  Data acquisition thread stopped.");
    EXPECT_EQ(messages.back(), "02  Quorvane Shutdown.");
    EXPECT_EQ(ReadFile(data_ + "/2406110.P01"),
              "Thermo\n03/01/24 10:07:30:000 StartTime\n21.5 1013\n"
              "03/01/24 10:07:30:000 EndTime\n");
}

// Neither the data file nor the journal can be written: the text received is
// kept in the rescue directory at the stop, and the run says where, with an
// exit status that is not 0 (the archive lacks it).
TEST_F(RunCommand, TextThatCannotBeWrittenIsRescuedAndTheRunSaysWhere) {
    sim::PtyPair instrument;
    ASSERT_TRUE(instrument.ok());
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, instrument.path()));
    BlockJournalAndDataFile();

    std::string error;
    EXPECT_EQ(RunUntilOneRecordThenStop(instrument, SIGTERM, status_, &error), kExitTextLost);
    const std::string rescued = station_.File("rescue") + "/2406110.P01";
    EXPECT_EQ(ReadFile(rescued),
              "Thermo\n03/01/24 10:07:30:000 StartTime\n21.5 1013\n"
              "03/01/24 10:07:30:000 EndTime\n");
    EXPECT_NE(Log().find("  43  10 bytes of COM1 received 10:07:30 to 10:07:30 could not be "
                         "written and are kept in " + rescued + " (acquisition stopped; the "
                         "journal could not take them)."),
              std::string::npos)
        << Log();
    EXPECT_EQ(Log().find("  30  "), std::string::npos) << Log();
    EXPECT_NE(error.find("are kept in " + rescued), std::string::npos) << error;
    EXPECT_NE(error.find("quorvane-cli run: 10 bytes of received text are not in the data files "
                         "but in " + station_.File("rescue")),
              std::string::npos)
        << error;
}

// ... and with no rescue directory that can be made either, the text is lost
// at the stop, and the run says so with its exit status, not 0.
TEST_F(RunCommand, ARunThatLosesReceivedTextDoesNotEndWithSuccess) {
    sim::PtyPair instrument;
    ASSERT_TRUE(instrument.ok());
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, instrument.path()));
    BlockJournalAndDataFile();
    setenv("QUORVANE_RESCUE_DIRECTORY", (data_ + "/journal/rescue").c_str(), 1);

    std::string error;
    EXPECT_EQ(RunUntilOneRecordThenStop(instrument, SIGTERM, status_, &error), kExitTextLost);
    EXPECT_NE(Log().find("  30  10 bytes of COM1 received "), std::string::npos) << Log();
    EXPECT_NE(error.find("quorvane-cli run: 10 bytes of COM1 received 10:07:30 to 10:07:30 are "
                         "lost (acquisition stopped; the journal could not take them)\n"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("quorvane-cli run: 10 bytes of received text could not be kept"),
              std::string::npos)
        << error;
}

// What check warns of is told at the start, of a refused file (where a slip
// explains the refusal) and of one that runs.
TEST_F(RunCommand, TheWarningsOfCheckAreToldAtTheStart) {
    const std::string valid = Ini(data_, station_.File("no-device"));
    for (const auto& [from, to, slip, status] :
         {std::tuple{"Baud=", "Baude=", "Baude", 255},
          std::tuple{"[COM1]\n", "[COM1]\nDevise=x\n", "Devise", 0}}) {
        std::string ini = valid;
        ini.replace(ini.find(from), std::string(from).size(), to);
        WriteFile(station_.File("Quorvane.ini"), ini);
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), status) << to;
        const std::string error = testing::internal::GetCapturedStderr();
        const auto warning = error.find("quorvane-cli run: warning: Quorvane.ini:");
        ASSERT_NE(warning, std::string::npos) << error;
        EXPECT_NE(error.find(slip, warning), std::string::npos) << error;
    }
}

TEST_F(RunCommand, TextAnEarlierRunLeftInTheJournalIsWrittenBeforeAcquisitionStarts) {
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, station_.File("no-device")));
    {
        PortJournal left(data_.c_str(), 1, "Thermo");  // what a killed run left behind
        Leftovers none;
        ASSERT_TRUE(left.Open(none));
        left.Append("20.5 1012\n", 10, platform::FakeClock::EpochMs(2024, 3, 1, 9, 59, 58, 125));
    }
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), 0);
    EXPECT_EQ(ReadFile(data_ + "/2406109.P01"),
              "Thermo\n03/01/24 09:59:58:125 StartTime\n20.5 1012\n"
              "03/01/24 09:59:58:125 EndTime\n");
    const auto messages = LogMessages(Log());
    ASSERT_GE(messages.size(), 4u);
    EXPECT_EQ(messages[1], "03  Data acquisition thread started.");
    EXPECT_EQ(messages[2], "20  Disk I/O: Write to " + data_ + "/2406109.P01.");
    EXPECT_EQ(messages[3], "34  10 bytes of COM1 received 09:59:58 to 09:59:58 recovered.");
}

TEST_F(RunCommand, ARefusedConfigurationIsLoggedReportedAndEndsWith255) {
    WriteFile(station_.File("Quorvane.ini"), "[QUORVANE]\nOutputDriveAndPath=" + data_ + "\n");
    testing::internal::CaptureStderr();
    const int status = RunHeadless(std::chrono::milliseconds(0), status_);
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 255);
    EXPECT_EQ(
        LogMessages(Log()),
        std::vector<std::string>{"01  Quorvane Startup - Initialization error...program aborted."});
    EXPECT_EQ(error.rfind("Quorvane Initialization Error ... \n\n", 0), 0u) << error;
    EXPECT_NE(error.find("Please make changes to Quorvane.ini and restart Quorvane.\n"),
              std::string::npos);
    EXPECT_EQ(StatusOutput(), "");
}

TEST_F(RunCommand, ForSecondsEndsTheRunWithoutASignal) {
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, station_.File("no-device")));
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), 0);
    const auto messages = LogMessages(Log());
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), "02  Quorvane Shutdown.");
    EXPECT_NE(StatusOutput().find("Port errors: COM1\n"), std::string::npos);
}

TEST_F(RunCommand, AMissingFileWritesNoLogAnywhere) {
    // No Quorvane.ini: the reader names no directory. The entry must not go to
    // "/<day>.LOG" (a run as root would create it there).
    clock_.SetEpochMs(platform::FakeClock::EpochMs(1999, 12, 31, 23, 0, 0));
    const std::string in_root = LogFilePath("", platform::Now());
    ASSERT_EQ(in_root, "/99365.LOG");
    std::filesystem::remove(in_root);
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), 255);
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_NE(error.find("Can't open INI file: Quorvane.ini"), std::string::npos) << error;
    EXPECT_FALSE(std::filesystem::exists(in_root));
    EXPECT_TRUE(std::filesystem::is_empty(data_));
}

TEST_F(RunCommand, ASecondLoggerInTheSameDirectoryIsRefusedWith75AndLogsNothing) {
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, station_.File("no-device")));
    StationSession first;
    std::string message;
    ASSERT_EQ(first.Claim(data_, message), StationClaim::kClaimed) << message;
    testing::internal::CaptureStderr();
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), 75);
    const std::string error = testing::internal::GetCapturedStderr();
    EXPECT_EQ(error, "quorvane-cli run: " + StationBusyMessage(data_, platform::OwnProcessId()));
    EXPECT_TRUE(LogMessages(Log()).empty()) << "the other logger's log stays its own";
    EXPECT_EQ(StatusOutput(), "");

    first.Close();
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status_), 0);
    EXPECT_EQ(LogMessages(Log()).front(),
              "00  Quorvane Startup - Settings acquired from Quorvane.ini and quality controlled "
              "successfully.");
}

// The service manager's view: ready once acquisition has started (entry 03
// is in the log), its status line, the software watchdog's keep-alive from
// the loop, and the stop.
TEST_F(RunCommand, TellsTheServiceManagerReadyStatusWatchdogAndStopping) {
    sim::PtyPair instrument;
    ASSERT_TRUE(instrument.ok());
    WriteFile(station_.File("Quorvane.ini"), Ini(data_, instrument.path()));
    NotifyListener manager;
    ASSERT_TRUE(manager.ok());
    setenv("WATCHDOG_USEC", "60000000", 1);
    platform::ResetServiceWatchdog();

    const pthread_t runner = pthread_self();
    std::vector<std::string> until_ready;
    std::vector<std::string> after_ready;
    std::string log_when_ready;
    std::string status_while_running;
    int status_exit = -1;
    std::thread operator_([&] {
        const auto received = manager.Until("READY=1");
        ASSERT_TRUE(received.has_value());
        until_ready = *received;
        log_when_ready = Log();
        const auto until_kick = manager.Until("WATCHDOG=1");
        ASSERT_TRUE(until_kick.has_value());
        after_ready = *until_kick;
        ASSERT_TRUE(probe_.WaitForPasses(2));
        std::ostringstream out;
        std::ostringstream err;
        status_exit = RunStatus({station_.path(), false}, out, err);
        status_while_running = out.str() + err.str();
        pthread_kill(runner, SIGTERM);
    });
    EXPECT_EQ(RunHeadless(std::nullopt, status_), 0);
    operator_.join();
    platform::ResetServiceWatchdog();

    ASSERT_FALSE(until_ready.empty());
    EXPECT_EQ(until_ready.front(),
              "STATUS=Data acquisition: Disabled; Ports currently open: None; Port errors: None");
    EXPECT_NE(log_when_ready.find("03  Data acquisition thread started."), std::string::npos)
        << log_when_ready;

    // One keep-alive: the next is due a quarter minute later, and the clock
    // stands.
    while (const auto next = manager.Pending()) {
        after_ready.push_back(*next);
    }
    EXPECT_EQ(std::count(after_ready.begin(), after_ready.end(), "WATCHDOG=1"), 1);
    const auto stopping = std::find(after_ready.begin(), after_ready.end(), "STOPPING=1");
    ASSERT_NE(stopping, after_ready.end());
    EXPECT_NE(std::find_if(after_ready.begin(), stopping,
                           [](const std::string& m) {
                               return m.rfind("STATUS=Data acquisition: Enabled on ", 0) == 0 &&
                                      m.find("; Ports currently open: COM1; Port errors: None") !=
                                          std::string::npos;
                           }),
              stopping);
    EXPECT_EQ(after_ready.back(),
              "STATUS=Data acquisition: Disabled; Ports currently open: None; Port errors: None");

    // quorvane-cli status, pointed at the station directory, found the
    // running logger's page in its output directory.
    EXPECT_EQ(status_exit, 0) << status_while_running;
    EXPECT_NE(status_while_running.find("A Quorvane logger runs in " + data_ + " (process " +
                                        std::to_string(platform::OwnProcessId()) + ")"),
              std::string::npos)
        << status_while_running;
    EXPECT_NE(status_while_running.find("Ports currently open:   COM1\n"), std::string::npos)
        << status_while_running;
    std::ostringstream after;
    std::ostringstream err;
    EXPECT_EQ(RunStatus({station_.path(), false}, after, err), 3);
    EXPECT_EQ(after.str().rfind("No Quorvane logger runs in " + data_ + ".\n", 0), 0u)
        << after.str();
    EXPECT_NE(after.str().find("Data acquisition:       Disabled\n"), std::string::npos);
}

// A run as root leaves the hour's data file and the day's log root's own and
// read-only; the next run is the service's, as an unprivileged user. Its
// failures are told at once, the next hour's file is written all the same,
// and once the operator has given the files to the user, the next start
// writes what was kept, in order. The two runs as the user are children of
// this test, which stays root.
constexpr char kStationVariable[] = "QUORVANE_TEST_OTHER_USER_STATION";

const passwd* Nobody() {
    return getpwnam("nobody");
}

bool BecomeNobody() {
    const passwd* user = Nobody();
    return user != nullptr && setgroups(0, nullptr) == 0 && setgid(user->pw_gid) == 0 &&
           setuid(user->pw_uid) == 0;
}

// The user's first run, from 10:58:30 to 11:01 with 1-minute periods: a
// record in each.
TEST(RunAsAnotherUser, DISABLED_RunsWhereRootLeftItsFiles) {
    const char* station = std::getenv(kStationVariable);
    ASSERT_NE(station, nullptr);
    ASSERT_TRUE(BecomeNobody());
    std::filesystem::current_path(station);
    const std::string data = std::string(station) + "/data";
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 10, 58, 30));
    platform::ClockScope clock_scope(clock);
    Probe probe;
    SetAcquisitionProbe(&probe);
    sim::PtyPair instrument;  // opened as the user, so the user's own
    ASSERT_TRUE(instrument.ok());
    WriteFile("Quorvane.ini", Ini(data, instrument.path()));
    std::FILE* status = std::tmpfile();
    ASSERT_NE(status, nullptr);

    const pthread_t runner = pthread_self();
    std::thread operator_([&] {
        ASSERT_TRUE(probe.WaitForPasses(1));
        const int64_t first_minute = platform::FakeClock::EpochMs(2024, 3, 1, 10, 58, 0);
        const char* records[] = {"one 1\n", "two 2\n", "three 3\n"};
        int64_t sent = 0;
        for (int k = 0; k < 3; ++k) {
            const int64_t minute = first_minute + int64_t{60000} * k;
            clock.SetEpochMs(minute + 40000);
            ASSERT_TRUE(instrument.Write(records[k]));
            sent += static_cast<int64_t>(std::strlen(records[k]));
            ASSERT_TRUE(probe.WaitForReceived(0, sent));
            // Less than a block waits a second in the queue: the record is
            // read, and journaled, at hh:mm:41, well inside its hour.
            clock.SetEpochMs(minute + 41000);
            ASSERT_TRUE(probe.WaitForPasses(probe.passes() + 2));
            clock.SetEpochMs(minute + 60000);
            ASSERT_TRUE(probe.WaitForFlushes(k + 1));
        }
        pthread_kill(runner, SIGTERM);
    });
    testing::internal::CaptureStderr();
    const int exit_status = RunHeadless(std::nullopt, status);
    const std::string error = testing::internal::GetCapturedStderr();
    operator_.join();
    SetAcquisitionProbe(nullptr);

    EXPECT_EQ(exit_status, 0);
    EXPECT_NE(error.find("quorvane-cli run: cannot write the data file " + data + "/2406110.P01"),
              std::string::npos)
        << error;
    EXPECT_NE(error.find("quorvane-cli run: cannot write the log "), std::string::npos) << error;
    const std::string shown = WrittenTo(status);
    std::fclose(status);
    EXPECT_NE(shown.find("Port errors: COM1 not written,log not written\n"), std::string::npos)
        << shown;
}

// The user's second run, once the files are the user's: it only starts.
TEST(RunAsAnotherUser, DISABLED_StartsOnceTheFilesAreItsOwn) {
    const char* station = std::getenv(kStationVariable);
    ASSERT_NE(station, nullptr);
    ASSERT_TRUE(BecomeNobody());
    std::filesystem::current_path(station);
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 11, 5, 0));
    platform::ClockScope clock_scope(clock);
    WriteFile("Quorvane.ini", Ini(std::string(station) + "/data", std::string(station) + "/gone"));
    std::FILE* status = std::tmpfile();
    ASSERT_NE(status, nullptr);
    EXPECT_EQ(RunHeadless(std::chrono::milliseconds(0), status), 0);
    std::fclose(status);
}

TEST(RunAsAnotherUser, FilesARootRunLeftAreToldKeptAndWrittenOnceTheyAreTheUsers) {
    if (geteuid() != 0 || Nobody() == nullptr) {
        GTEST_SKIP() << "needs root, to run the logger as the user nobody";
    }
    const uid_t nobody = Nobody()->pw_uid;
    const gid_t nogroup = Nobody()->pw_gid;
    TempDir station;
    const std::string data = station.File("data");
    std::filesystem::create_directory(data);
    for (const std::string& dir : {station.path(), data}) {
        std::filesystem::permissions(dir, std::filesystem::perms::all);
    }
    // What the run as root left behind.
    const std::string hour10 = data + "/2406110.P01";
    const std::string root_text = "Thermo\n03/01/24 10:00:00:000 StartTime\nroot 0\n";
    WriteFile(hour10, root_text);
    const std::string log =
        LogFilePath(data.c_str(), platform::FakeClock::EpochMs(2024, 3, 1, 10, 0, 0) / 1000);
    WriteFile(log, "03-01-24 10:00:00  02  Quorvane Shutdown.\n");
    for (const std::string& file : {hour10, log}) {
        ASSERT_EQ(::chmod(file.c_str(), 0444), 0);
    }
    ASSERT_EQ(::setenv(kStationVariable, station.path().c_str(), 1), 0);

    EXPECT_EQ(testing_support::RunTestInChildProcess(
                  "RunAsAnotherUser.DISABLED_RunsWhereRootLeftItsFiles"),
              0);
    EXPECT_EQ(ReadFile(hour10), root_text);
    const std::string hour11 = data + "/2406111.P01";
    struct stat owner {};
    ASSERT_EQ(::stat(hour11.c_str(), &owner), 0) << "the next hour's file is written";
    EXPECT_EQ(owner.st_uid, nobody);
    EXPECT_NE(ReadFile(hour11).find("\nthree 3\n"), std::string::npos) << ReadFile(hour11);

    // The operator gives the files to the user; the next start writes them.
    for (const std::string& file : {hour10, log}) {
        ASSERT_EQ(::chown(file.c_str(), nobody, nogroup), 0);
    }
    EXPECT_EQ(testing_support::RunTestInChildProcess(
                  "RunAsAnotherUser.DISABLED_StartsOnceTheFilesAreItsOwn"),
              0);
    ::unsetenv(kStationVariable);
    const std::string written = ReadFile(hour10);
    ASSERT_EQ(written.rfind(root_text, 0), 0u) << written;
    const size_t one = written.find("\none 1\n");
    const size_t two = written.find("\ntwo 2\n");
    EXPECT_NE(one, std::string::npos) << written;
    EXPECT_NE(two, std::string::npos) << written;
    EXPECT_LT(one, two);
    EXPECT_EQ(written.find("three"), std::string::npos);
    EXPECT_NE(ReadFile(log).find("  34  "), std::string::npos) << ReadFile(log);
}

}  // namespace
