#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/resources.h"
#include "shell_fixture.h"
#include "support/process_watch.h"
#include "support/recorded_programs.h"

namespace {

using testing_support::RecordedPrograms;
using testing_support::ShellTest;

#ifdef _WIN32
constexpr char kViewer[] = "v.exe";
#else
constexpr char kViewer[] = "xdg-open";
#endif

// Waits until the acquisition thread has shown when its first status update
// will be ("First update at hh:mm UTC").
bool WaitForRunningStatus() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (ShellTest::Text(kStatusReceivedData).find("UTC") == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

using StatusView = ShellTest;

TEST_F(StatusView, StartAndStopFollowTheMenuState) {
    StartUp();
    EXPECT_TRUE(view().IsCommandEnabled(ID_ACQUISITION_START));
    EXPECT_FALSE(view().IsCommandEnabled(ID_ACQUISITION_STOP));
    EXPECT_TRUE(view().IsCommandEnabled(ID_VIEW_LOG_ENTRIES));

    ASSERT_TRUE(app().OnCommand(ID_ACQUISITION_START));
    ASSERT_TRUE(Running());
    EXPECT_FALSE(view().IsCommandEnabled(ID_ACQUISITION_START));
    EXPECT_TRUE(view().IsCommandEnabled(ID_ACQUISITION_STOP));
    EXPECT_TRUE(view().IsCommandEnabled(ID_VIEW_TERMINAL_DATA));

    CDataAcquisitionThread* const running = ActiveAcquisitionThread;
    view().StartAcquisition(1);
    EXPECT_EQ(ActiveAcquisitionThread, running) << "a second start changes nothing";

    app().OnCommand(ID_ACQUISITION_STOP);
    EXPECT_FALSE(Running());
    EXPECT_TRUE(view().IsCommandEnabled(ID_ACQUISITION_START));
    EXPECT_EQ(Text(kStatusAcquisition).substr(0, 8), "Disabled") << "drawn by the thread";
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "03", "04"}));
}

TEST_F(StatusView, AutoStartsAtTheFirstPaintInAnyCase) {
    for (const char* argument : {"/auto", "/Auto", "/AUTOSTART"}) {
        SCOPED_TRACE(argument);
        StartUp({argument});
        EXPECT_TRUE(Running()) << "started by the paint of the start-up";
        EXPECT_FALSE(view().IsCommandEnabled(ID_ACQUISITION_START));
        view().OnDestroy();
        EXPECT_FALSE(Running());
        front_end.Paint();
        EXPECT_FALSE(Running()) << "nothing starts once the configuration is released";
    }
}

TEST_F(StatusView, AutoModeStartsAgainAtTheNextPaintAfterAStop) {
    StartUp({"/AUTO"});
    ASSERT_TRUE(Running());
    app().OnCommand(ID_ACQUISITION_STOP);
    EXPECT_FALSE(Running());
    front_end.Paint();
    EXPECT_TRUE(Running());
}

TEST_F(StatusView, ThePaintThatStartsAcquisitionUsesTheRunningColours) {
    StartUp({"/AUTO"});
    ASSERT_TRUE(WaitForRunningStatus());
    const auto page = front_end.Paint();
    EXPECT_EQ(page.At(160, 92).text, "None") << "no port configured";
    EXPECT_EQ(page.At(160, 92).colour, kRed);
    EXPECT_EQ(page.At(160, 156).colour, kPurple);
    EXPECT_EQ(page.At(160, 172).colour, kPurple);

    app().OnCommand(ID_ACQUISITION_STOP);
    CommandLineArgument.reset();  // the next paint must not start it again
    const auto stopped = front_end.Paint();
    EXPECT_EQ(stopped.At(160, 92).text.substr(0, 4), "None");
    EXPECT_EQ(stopped.At(160, 92).colour, kDarkGreen);
}

TEST_F(StatusView, TheThreadsDrawingAsksForRepaintsUntilTheShutdown) {
    StartUp();
    app().OnCommand(ID_ACQUISITION_START);
    ASSERT_TRUE(WaitForRunningStatus());
    app().OnCommand(ID_ACQUISITION_STOP);
    const int after_stop = front_end.invalidations.load();
    EXPECT_GT(after_stop, 0);

    view().OnDestroy();  // no window to draw on any more
    view().OnStatusDrawn({});
    EXPECT_EQ(front_end.invalidations.load(), after_stop);
}

TEST_F(StatusView, ShutdownStopsAcquisitionEndsViewersThenLogsItsEntry) {
    RecordedPrograms programs({kViewer});
    programs.StayRunning(true);
    StartUp();
    testing_support::WriteFile(station.Output() + "/9712301.sta", "x");
    app().OnCommand(ID_VIEW_DIAGNOSTIC_STATISTICS);
    ASSERT_EQ(programs.WaitForRuns(1).size(), 1u);
    ASSERT_EQ(ViewerProcesses.size(), 1u);
    const testing_support::ProcessWatch viewer(ViewerProcesses.front());
    app().OnCommand(ID_ACQUISITION_START);

    app().OnCommand(ID_APP_EXIT);
    EXPECT_EQ(front_end.close_requests, 1) << "Exit closes the window";
    view().OnDestroy();  // what closing the window does

    EXPECT_FALSE(Running());
    EXPECT_TRUE(viewer.Ended());
    const auto codes = station.LogCodes();
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(codes.front(), "00");
    EXPECT_EQ(std::vector<std::string>(codes.end() - 3, codes.end()),
              (std::vector<std::string>{"03", "04", "02"}));
}

}  // namespace
