#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "app/resources.h"
#include "platform/files.h"
#include "shell_fixture.h"
#include "support/recorded_programs.h"

namespace {

namespace fs = std::filesystem;
using testing_support::RecordedPrograms;
using testing_support::ShellTest;
using testing_support::StationPort;
using testing_support::ViewerProgramNames;
using testing_support::WriteFile;
using Runs = std::vector<std::vector<std::string>>;

class Commands : public ShellTest {
protected:
    // Two ports, COM1 and COM2, whose devices do not exist.
    void StartWithTwoPorts() {
        StartUp({}, station.ValidIni({{1, "9600", "N", "8", "1", "/nonexistent/ttyQ1"},
                                      {2, "4800", "E", "7", "2", "/nonexistent/ttyQ2"}}));
    }

    std::string Output(const std::string& name) const {
        return platform::JoinPath(station.Output(), name);
    }
};

TEST_F(Commands, TerminalDataNamesAPortThatIsNotConfigured) {
    StartWithTwoPorts();
    front_end.terminal_answer = 2;  // "COM 3"
    app().OnCommand(ID_VIEW_TERMINAL_DATA);
    EXPECT_EQ(front_end.terminal_initial_selections, std::vector<int>{0}) << "opens on COM 1";
    EXPECT_EQ(front_end.messages,
              std::vector<std::string>{"COM3 is not defined in Quorvane.ini.\n"});
}

TEST_F(Commands, TerminalDataCancelledDoesNothing) {
    StartWithTwoPorts();
    front_end.terminal_answer.reset();
    app().OnCommand(ID_VIEW_TERMINAL_DATA);
    EXPECT_TRUE(front_end.messages.empty());
    EXPECT_TRUE(ViewerProcesses.empty());
}

TEST_F(Commands, TerminalDataHandsTheEmulatorTheFiveLineValues) {
    RecordedPrograms programs(ViewerProgramNames());
    StartWithTwoPorts();
    EXPECT_EQ(TerminalArgumentText(1, 0), " 1 9600 N 8 1");
    EXPECT_EQ(TerminalArgumentText(2, 1), " 2 4800 E 7 2");
    EXPECT_EQ(SplitAtBlanks(" 2 4800 E 7 2"),
              (std::vector<std::string>{"2", "4800", "E", "7", "2"}));

    front_end.terminal_answer = 1;  // "COM 2", the second port
    app().OnCommand(ID_VIEW_TERMINAL_DATA);
    EXPECT_TRUE(front_end.messages.empty());
    EXPECT_EQ(ViewerProcesses.size(), 1u);
#ifdef _WIN32
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"Wexlorant.exe", "2", "4800", "E", "7", "2"}}));
#else
    EXPECT_EQ(programs.WaitForRuns(1),
              (Runs{{"x-terminal-emulator", "-e", "tio", "-b", "4800", "-p", "even", "-d", "7",
                     "-s", "2", "/nonexistent/ttyQ2"}}));
#endif
}

TEST_F(Commands, TerminalDataWithoutAnEmulatorSaysSo) {
    StartWithTwoPorts();
    front_end.terminal_answer = 0;
    {
        RecordedPrograms empty_path({});  // a search path that starts with an empty folder
#ifdef _WIN32
        _putenv_s("PATH", empty_path.directory().c_str());
#else
        setenv("PATH", empty_path.directory().c_str(), 1);
#endif
        app().OnCommand(ID_VIEW_TERMINAL_DATA);
    }
#ifdef _WIN32
    EXPECT_EQ(front_end.messages, std::vector<std::string>{"Error spawning Wexlorant.exe."});
#else
    EXPECT_EQ(front_end.messages,
              std::vector<std::string>{
                  "Error spawning x-terminal-emulator. It is the system's terminal window (the "
                  "package xterm, for one); the port is shown in it by tio (the package tio)."});
#endif
    EXPECT_TRUE(ViewerProcesses.empty());
}

TEST_F(Commands, ViewersThatCannotStartSayWhich) {
    StartUp();
    WriteFile(Output("9712301.sta"), "statistics");
    WriteFile(station.Root() + "/QuorvaneHelpV1.3.doc", "help");
    front_end.file_answer = Output("9712301.sta");
    {
        RecordedPrograms empty_path({});  // a search path that holds nothing
#ifdef _WIN32
        _putenv_s("PATH", empty_path.directory().c_str());
#else
        setenv("PATH", empty_path.directory().c_str(), 1);
#endif
        app().OnCommand(ID_VIEW_LOG_ENTRIES);
        app().OnCommand(ID_VIEW_DIAGNOSTIC_STATISTICS);
        app().OnCommand(ID_VIEW_ARCHIVED_DATA);
#ifndef _WIN32  // Windows always has a word processor of its own
        app().OnCommand(ID_HELP_OPERATING_INSTRUCTIONS);
#endif
    }
#ifdef _WIN32
    const std::vector<std::string> expected(3, "Error spawning v.exe.");
#else  // the program really tried, and where it comes from
    const std::vector<std::string> expected(
        4, "Error spawning xdg-open. It comes with the package xdg-utils.");
#endif
    EXPECT_EQ(front_end.messages, expected);
    EXPECT_TRUE(ViewerProcesses.empty());
}

TEST_F(Commands, TerminalDataWhileRunningWarnsAfterTheDialogEvenForAnUnknownPort) {
    StartWithTwoPorts();
    app().OnCommand(ID_ACQUISITION_START);
    ASSERT_TRUE(Running());
    front_end.terminal_answer = 17;  // COM18, not configured
    app().OnCommand(ID_VIEW_TERMINAL_DATA);
    EXPECT_EQ(front_end.terminal_initial_selections.size(), 1u) << "the dialog comes first";
    ASSERT_EQ(front_end.messages.size(), 1u);
    EXPECT_EQ(front_end.messages[0],
              "              Warning !!!\n"
              "Data Acquisition must be disabled before\n"
              "    executing the terminal emulator.\n"
              "\n"
              "   Please Stop Data Acquisition first!");
}

TEST_F(Commands, LogEntriesShowsTheNewestLogFromItsEnd) {
    RecordedPrograms programs(ViewerProgramNames());
    StartUp();
    // Start-up has written today's log, the newest one (beside the lock and
    // status files).
    std::string today;
    for (const auto& entry : fs::directory_iterator(station.Output())) {
        if (entry.path().extension() == ".LOG") {
            today = entry.path().filename().string();
        }
    }
    ASSERT_FALSE(today.empty());
    WriteFile(Output("97001.LOG"), "old");
    fs::last_write_time(Output("97001.LOG"),
                        fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
    app().OnCommand(ID_VIEW_LOG_ENTRIES);
    EXPECT_TRUE(front_end.messages.empty());
#ifdef _WIN32
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"v.exe", "/E", Output(today)}}));
#else
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"xdg-open", Output(today)}}));
#endif
}

TEST_F(Commands, LogEntriesAndStatisticsSayWhenThereIsNothingToShow) {
    StartUp();
    for (const auto& entry : fs::directory_iterator(station.Output())) {
        fs::permissions(entry.path(), fs::perms::owner_write, fs::perm_options::add);
        fs::remove(entry.path());
    }
    WriteFile(Output("9712301.P01"), "data");
    app().OnCommand(ID_VIEW_LOG_ENTRIES);
    app().OnCommand(ID_VIEW_DIAGNOSTIC_STATISTICS);
    EXPECT_EQ(front_end.messages,
              (std::vector<std::string>{"No LOG files present.", "No statistics files present."}));
    EXPECT_TRUE(ViewerProcesses.empty());
}

TEST_F(Commands, DiagnosticStatisticsShowsTheNewestStatisticsFile) {
    RecordedPrograms programs(ViewerProgramNames());
    StartUp();
    WriteFile(Output("9712301.sta"), "older");
    WriteFile(Output("9712302.STA"), "newer");
    fs::last_write_time(Output("9712301.sta"),
                        fs::file_time_type::clock::now() - std::chrono::hours(2));
    app().OnCommand(ID_VIEW_DIAGNOSTIC_STATISTICS);
#ifdef _WIN32
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"v.exe", Output("9712302.STA")}}));
#else
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"xdg-open", Output("9712302.STA")}}));
#endif
}

TEST_F(Commands, ArchivedDataAsksForADataFileAndShowsIt) {
    RecordedPrograms programs(ViewerProgramNames());
    StartUp();
    app().OnCommand(ID_VIEW_ARCHIVED_DATA);  // cancelled
    ASSERT_EQ(front_end.file_requests.size(), 1u);
    const FileOpenRequest& request = front_end.file_requests[0];
    EXPECT_EQ(request.caption, "Open Data File");
    EXPECT_EQ(request.initial_directory, station.Output());
    EXPECT_EQ(request.initial_file_name, "*.P*");
    EXPECT_TRUE(request.show_read_only_box);
    EXPECT_TRUE(front_end.messages.empty());

    front_end.file_answer = Output("no such.P01");
    app().OnCommand(ID_VIEW_ARCHIVED_DATA);
    EXPECT_EQ(front_end.messages,
              std::vector<std::string>{"The requested data file, " + Output("no such.P01") +
                                       ", does not exist.\n\n"});

    const std::string long_path = Output(std::string(1500, 'x') + ".P01");
    front_end.file_answer = long_path;
    app().OnCommand(ID_VIEW_ARCHIVED_DATA);
    EXPECT_EQ(front_end.messages.back(),
              "The requested data file, " + long_path + ", does not exist.\n\n")
        << "a long path is not cut";

    fs::create_directory(Output("with blanks"));
    const std::string file = platform::JoinPath(Output("with blanks"), "9712301.P01");
    WriteFile(file, "data");
    front_end.file_answer = file;
    app().OnCommand(ID_VIEW_ARCHIVED_DATA);
#ifdef _WIN32
    const std::string viewer = "v.exe";
#else
    const std::string viewer = "xdg-open";
#endif
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{viewer, file}})) << "a path with blanks stays whole";
}

TEST_F(Commands, OperatingInstructionsNeedTheHelpFileOfThisVersion) {
    RecordedPrograms programs(ViewerProgramNames());
    StartUp();
    app().OnCommand(ID_HELP_OPERATING_INSTRUCTIONS);
    EXPECT_EQ(front_end.messages, std::vector<std::string>{"Can't find QuorvaneHelpV1.3.doc."});

    WriteFile(station.Root() + "/QuorvaneHelpV1.3.doc", "help");
    app().OnCommand(ID_HELP_OPERATING_INSTRUCTIONS);
#ifdef _WIN32
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"wordpad.exe", "QuorvaneHelpV1.3.doc"}}));
#else
    EXPECT_EQ(programs.WaitForRuns(1), (Runs{{"xdg-open", "QuorvaneHelpV1.3.doc"}}));
#endif
    EXPECT_EQ(ViewerProcesses.size(), 1u);
}

TEST_F(Commands, AboutShowsTheBoxAndExitClosesTheWindow) {
    StartUp();
    EXPECT_TRUE(app().OnCommand(ID_APP_ABOUT));
    EXPECT_EQ(front_end.about_boxes, 1);
    EXPECT_TRUE(app().OnCommand(ID_APP_EXIT));
    EXPECT_EQ(front_end.close_requests, 1);
    EXPECT_FALSE(app().OnCommand(ID_EDIT_COPY)) << "the program does not provide it";
}

}  // namespace
