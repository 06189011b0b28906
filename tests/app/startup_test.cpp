#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/program_information.h"
#include "app/quorvane_doc.h"
#include "app/resources.h"
#include "config/com_config.h"
#include "platform/file_lock.h"
#include "publish/publisher.h"
#include "shell_fixture.h"
#include "station/station_session.h"
#include "support/child_test.h"
#include "support/recorded_programs.h"
#include "version/build_info.h"

namespace {

namespace fs = std::filesystem;
using testing_support::kExitStatusMinusOne;
using testing_support::ReadFile;
using testing_support::RecordedPrograms;
using testing_support::RunTestInChildProcess;
using testing_support::ShellTest;
using testing_support::Station;
using testing_support::ViewerProgramNames;

#ifdef _WIN32
const std::vector<std::string> kEditorRun = {"write.exe", "Quorvane.ini"};
#else
const std::vector<std::string> kEditorRun = {"xdg-open", "Quorvane.ini"};
#endif

constexpr char kGeneralAdvice[] = "Please make changes to Quorvane.ini and restart Quorvane.";

using Startup = ShellTest;

TEST_F(Startup, AValidFileIsLoggedOnceAndTheWindowShowsTheInitialTexts) {
    StartUp();
    EXPECT_EQ(station.LogMessages(),
              std::vector<std::string>{"00  Quorvane Startup - Settings acquired from Quorvane.ini "
                                       "and quality controlled successfully."});
    EXPECT_TRUE(front_end.messages.empty());
    EXPECT_EQ(front_end.title, "Quorvane - KOVA/BRN Data Acquisition Systems");
    EXPECT_EQ(front_end.icon, 128);
    EXPECT_FALSE(CommandLineArgument.has_value());
    ASSERT_EQ(front_end.paints.size(), 1u) << "painted at once when shown";
    const auto& page = front_end.paints.front();
    EXPECT_EQ(page.At(160, 60).text, "Disabled");
    EXPECT_EQ(page.At(160, 76).text, "Disabled");
    for (int y = 92; y <= 172; y += 16) {
        EXPECT_EQ(page.At(160, y).text, "None");
        EXPECT_EQ(page.At(160, y).colour, kDarkGreen);
    }
    EXPECT_FALSE(Running());
}

TEST_F(Startup, TheFirstArgumentIsKeptAsGivenAndNothingElseIsInterpreted) {
    StartUp({"-AUTO", "/AUTO"});
    EXPECT_EQ(CommandLineArgument, "-AUTO");
    EXPECT_FALSE(Running()) << "only the first argument counts";
}

TEST_F(Startup, AWindowThatCannotBeCreatedEndsStartUpWithoutALogEntry) {
    station.WriteIni(station.ValidIni());
    front_end.window_can_be_created = false;
    CQuorvaneApp app(front_end);
    EXPECT_FALSE(app.InitInstance({}));
    EXPECT_TRUE(station.LogMessages().empty());
}

TEST_F(Startup, NewReloadsTheFileWhenStoppedAndIsRefusedWhileRunning) {
    StartUp();
    {
        std::lock_guard<std::mutex> lock(StatusLock);
        StatusText(kStatusPortErrors) = "COM4";
    }
    ASSERT_TRUE(app().OnCommand(ID_FILE_NEW));
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "00"}));
    EXPECT_EQ(Text(kStatusPortErrors), "None");

    app().OnCommand(ID_ACQUISITION_START);
    ASSERT_TRUE(Running());
    const char* output = com.OutputDriveAndPath;
    app().OnCommand(ID_FILE_NEW);
    EXPECT_EQ(front_end.messages, std::vector<std::string>{kNewWhileRunningMessage});
    EXPECT_EQ(com.OutputDriveAndPath, output) << "the record in use stays";
    app().OnCommand(ID_ACQUISITION_STOP);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "00", "03", "04"}));
}

TEST_F(Startup, TheShutdownReleasesTheConfiguration) {
    StartUp();
    ASSERT_NE(com.Baud, nullptr);
    view().OnDestroy();
    EXPECT_EQ(com.Baud, nullptr);
    EXPECT_EQ(com.TokenLabelsForStatistics, nullptr);
    EXPECT_EQ(com.OutputDriveAndPath, nullptr);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "02"}));
}

TEST(AdviceText, TheUnwritableDirectoryGetsItsOwnTwoLines) {
    EXPECT_EQ(InitializationAdvice(-11),
              "       Please either make changes to Quorvane.ini and\\or\n"
              "                   check the drive\\path accessibility.");
    for (int code : {-1, -2, -3, -5, -6, -7, -8, -9, -10, -12, -13}) {
        EXPECT_EQ(InitializationAdvice(code), kGeneralAdvice) << code;
    }
    EXPECT_EQ(InitializationErrorMessage(-1, "Can't open INI file: Quorvane.ini\n"),
              "Quorvane Initialization Error ... \n\nCan't open INI file: Quorvane.ini\n\n" +
                  std::string(kGeneralAdvice));
}

// Child part of the refused-file tests: a start-up whose first message box is
// kept in box.txt in the current directory, and any later ones, a line each,
// in later-boxes.txt.
class RecordingBoxFrontEnd : public testing_support::ScriptedFrontEnd {
public:
    void ShowMessageBox(const std::string& text) override {
        if (!shown_) {
            std::ofstream("box.txt", std::ios::binary) << text;
            shown_ = true;
        } else {
            std::ofstream("later-boxes.txt", std::ios::binary | std::ios::app) << text << '\n';
        }
    }

private:
    bool shown_ = false;
};

TEST(RefusedFileChild, DISABLED_StartUp) {
    RecordingBoxFrontEnd front_end;
    CQuorvaneApp app(front_end);
    app.InitInstance({});
    ADD_FAILURE() << "start-up went on after a refused file";
}

class RefusedFile : public ::testing::Test {
protected:
    // Starts a child on the station's file; its exit status.
    std::optional<int> StartChild() {
        return RunTestInChildProcess("RefusedFileChild.DISABLED_StartUp");
    }
    std::string Box() const { return ReadFile(station.Root() + "/box.txt"); }

    Station station;
    RecordedPrograms programs{ViewerProgramNames()};
};

TEST_F(RefusedFile, AMissingFileOpensTheEditorAndEndsWithMinusOne) {
    EXPECT_EQ(StartChild(), kExitStatusMinusOne);
    EXPECT_EQ(Box(), "Quorvane Initialization Error ... \n\nCan't open INI file: Quorvane.ini\n\n" +
                         std::string(kGeneralAdvice));
    EXPECT_TRUE(station.LogMessages().empty()) << "no directory is known";
    EXPECT_EQ(programs.WaitForRuns(1), std::vector<std::vector<std::string>>{kEditorRun});
}

#ifndef _WIN32
TEST_F(RefusedFile, AnEditorThatCannotStartIsNamedAfterTheRefusal) {
    station.WriteIniWithUnevenPeriod();
    {
        RecordedPrograms empty_path({});  // a search path that holds nothing
        setenv("PATH", empty_path.directory().c_str(), 1);
        EXPECT_EQ(StartChild(), kExitStatusMinusOne);
    }
    EXPECT_EQ(Box().rfind("Quorvane Initialization Error ... ", 0), 0u) << Box();
    EXPECT_EQ(ReadFile(station.Root() + "/later-boxes.txt"),
              "Error spawning xdg-open. It comes with the package xdg-utils.\n");
}
#endif

TEST_F(RefusedFile, AnUnwritableDirectoryAlsoOpensTheFileBrowser) {
    // A "." in the path refuses the directory even though it can be written.
    const std::string dotted = station.Root() + "/data.old";
    fs::create_directory(dotted);
    std::string ini = station.ValidIni();
    ini.replace(ini.find(station.Output()), station.Output().size(), dotted);
    station.WriteIni(ini);

    EXPECT_EQ(StartChild(), kExitStatusMinusOne);
    const std::string box = Box();
    EXPECT_EQ(box.rfind("Quorvane Initialization Error ... \n\nAccess is denied for the specified "
                        "drive\\path [" +
                            dotted + "].\n",
                        0),
              0u)
        << box;
    const std::string ending = "\n\n" + InitializationAdvice(-11);
    ASSERT_GE(box.size(), ending.size());
    EXPECT_EQ(box.substr(box.size() - ending.size()), ending);
    EXPECT_EQ(
        station.LogMessagesIn(dotted),
        std::vector<std::string>{"01  Quorvane Startup - Initialization error...program aborted."});
    const auto runs = programs.WaitForRuns(2);
    ASSERT_EQ(runs.size(), 2u);
#ifdef _WIN32
    const std::vector<std::string> browser = {"explorer.exe"};
#else
    const std::vector<std::string> browser = {"xdg-open", dotted};
#endif
    EXPECT_TRUE((runs[0] == kEditorRun && runs[1] == browser) ||
                (runs[1] == kEditorRun && runs[0] == browser))
        << runs[0][0] << ", " << runs[1][0];
}

TEST_F(RefusedFile, AMissingDirectoryLosesTheLogEntryAndOpensOnlyTheEditor) {
    std::string ini = station.ValidIni();
    ini.replace(ini.find(station.Output()), station.Output().size(), station.Root() + "/nowhere");
    station.WriteIni(ini);

    EXPECT_EQ(StartChild(), kExitStatusMinusOne);
    EXPECT_NE(Box().find("can not be located by the operating system"), std::string::npos);
    EXPECT_EQ(Box().substr(Box().size() - std::string(kGeneralAdvice).size()), kGeneralAdvice);
    EXPECT_FALSE(fs::exists(station.Root() + "/nowhere"));
    EXPECT_EQ(programs.WaitForRuns(1), std::vector<std::vector<std::string>>{kEditorRun});
}

TEST_F(RefusedFile, AnInvalidValueIsLoggedInTheNamedDirectory) {
    station.WriteIniWithUnevenPeriod();
    EXPECT_EQ(StartChild(), kExitStatusMinusOne);
    EXPECT_EQ(
        station.LogMessages(),
        std::vector<std::string>{"01  Quorvane Startup - Initialization error...program aborted."});
}

// A directory that another logger writes to: the box says so, nothing is
// logged there, no editor is started, and the program ends with 75.
TEST_F(RefusedFile, ADirectoryThatAnotherLoggerHoldsIsRefusedInABoxWith75) {
    station.WriteIni(station.ValidIni());
    StationSession other;
    std::string message;
    ASSERT_EQ(other.Claim(station.Output(), message), StationClaim::kClaimed) << message;
    EXPECT_EQ(StartChild(), 75);
    EXPECT_EQ(Box(), StationBusyMessage(station.Output(), platform::OwnProcessId()));
    EXPECT_TRUE(station.LogMessages().empty());
    EXPECT_TRUE(programs.WaitForRuns(0).empty());
}

TEST_F(Startup, TheWindowKeepsTheStatusFileOfItsOutputDirectory) {
    StartUp();
    StationStatus status;
    ASSERT_TRUE(ParseStatusFile(ReadFile(station.Output() + "/quorvane-status.json"), status));
    EXPECT_EQ(status.process, platform::OwnProcessId());
    ASSERT_EQ(status.lines.size(), 8u);
    EXPECT_EQ(status.lines[0].text, "Disabled");
    EXPECT_EQ(platform::ProbeFileLock(station.Output() + "/quorvane.lock"),
              platform::LockState::kHeld);

    app().OnCommand(ID_ACQUISITION_START);
    app().OnCommand(ID_ACQUISITION_STOP);
    ASSERT_TRUE(ParseStatusFile(ReadFile(station.Output() + "/quorvane-status.json"), status));
    EXPECT_EQ(status.lines[0].text, "Disabled") << "drawn again at the stop";
    EXPECT_EQ(status.lines[2].text, "None");
}

TEST(InformationArguments, HelpAndVersionAnswerAndEveryOtherArgumentGoesOn) {
    std::ostringstream out;
    EXPECT_EQ(AnswerInformationArgument({"--version"}, out), 0);
    EXPECT_EQ(out.str(), "quorvane 1.3 (commit " + std::string(BuildCommit()) + ")\n" +
                             publish::PublishingSupportLine() + "\n");
    for (const char* help : {"--help", "-h", "/?"}) {
        out.str("");
        EXPECT_EQ(AnswerInformationArgument({help, "/AUTO"}, out), 0);
        EXPECT_EQ(out.str(), kWindowProgramHelp);
    }
    EXPECT_EQ(std::string(kWindowProgramHelp).rfind("Usage: quorvane [/AUTO]\n", 0), 0u);
    out.str("");
    for (const std::vector<std::string>& other :
         {std::vector<std::string>{}, {"/AUTO"}, {"/auto", "--help"}, {"--helper"}}) {
        EXPECT_EQ(AnswerInformationArgument(other, out), std::nullopt);
    }
    EXPECT_EQ(out.str(), "");
}

}  // namespace
