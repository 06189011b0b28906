#include <gtest/gtest.h>

#include <set>

#include "app/main_frame.h"
#include "app/resources.h"
#include "app/terminal_dlg.h"

namespace {

TEST(MainFrame, OpensCentredAtTheTopOfTheScreen) {
    const WindowGeometry g = CMainFrame::InitialGeometry(1032);
    EXPECT_EQ(g.x, 233);
    EXPECT_EQ(g.y, 0);
    EXPECT_EQ(g.width, 567);
    EXPECT_EQ(g.height, 259);
    EXPECT_EQ(CMainFrame::InitialGeometry(1033).x, 233) << "halves truncated";
    EXPECT_EQ(CMainFrame::InitialGeometry(800).x, 117);
    EXPECT_EQ(CMainFrame::InitialGeometry(500).x, -33) << "a narrow screen cuts the left edge";
}

TEST(MainFrame, MessagePaneShowsReadyOrThePromptOfTheHighlightedItem) {
    EXPECT_EQ(CMainFrame::MessagePaneText(std::nullopt), "Ready");
    const std::pair<int, const char*> prompts[] = {
        {ID_APP_EXIT, "Stop Acquisition; Quit the application"},
        {ID_ACQUISITION_START, "Start data acquisition"},
        {ID_ACQUISITION_STOP, "Stop data acquisition"},
        {ID_VIEW_TERMINAL_DATA, "View COM port data through the terminal emulator"},
        {ID_VIEW_LOG_ENTRIES, "View entries in log file"},
        {ID_VIEW_DIAGNOSTIC_STATISTICS, "View diagnostic statistic files"},
        {ID_VIEW_ARCHIVED_DATA, "View archived data files"},
        {ID_HELP_OPERATING_INSTRUCTIONS, "View Quorvane operating instructions."},
    };
    for (const auto& [command, prompt] : prompts) {
        EXPECT_EQ(CMainFrame::MessagePaneText(command), prompt);
    }
    const std::string about = CMainFrame::MessagePaneText(ID_APP_ABOUT);
    EXPECT_FALSE(about.empty());
    EXPECT_EQ(about.find('\n'), std::string::npos) << "the tool-tip is not part of the prompt";
    EXPECT_EQ(CommandToolTip(ID_APP_ABOUT), "About");
}

TEST(MainFrame, EveryMenuItemHasAPromptAndADistinctCommand) {
    std::set<int> commands;
    int items = 0;
    for (const MenuPopup& popup : MainMenu()) {
        for (const MenuItem& item : popup.items) {
            ++items;
            commands.insert(item.command);
            EXPECT_FALSE(CommandPrompt(item.command).empty()) << item.text;
        }
    }
    EXPECT_EQ(items, 9);
    EXPECT_EQ(commands.size(), 9u);
}

TEST(MainFrame, LockKeyPanesShowTheirTextOnlyWhileTheKeyIsOn) {
    EXPECT_EQ(CMainFrame::StatusBarIndicators(),
              (std::vector<int>{0, ID_INDICATOR_CAPS, ID_INDICATOR_NUM, ID_INDICATOR_SCRL}));
    const LockKeyState caps_only{true, false, false};
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_CAPS, caps_only), "CAP");
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_NUM, caps_only), "");
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_SCRL, caps_only), "");
    const LockKeyState others{false, true, true};
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_CAPS, others), "");
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_NUM, others), "NUM");
    EXPECT_EQ(CMainFrame::IndicatorText(ID_INDICATOR_SCRL, others), "SCRL");
}

TEST(MainFrame, AFailedStatusBarFailsTheFrameWithATrace) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(CMainFrame::OnCreate(true, false), -1);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Failed to create status bar\n");
    testing::internal::CaptureStderr();
    EXPECT_EQ(CMainFrame::OnCreate(false, true), -1);
    EXPECT_EQ(CMainFrame::OnCreate(true, true), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST(TerminalDialog, OffersEighteenPortsAndKeepsTheChoiceOnlyOnOk) {
    const auto& lines = CTerminalDlg::PortLines();
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines.front(), "COM 1");
    EXPECT_EQ(lines[9], "COM 10");
    EXPECT_EQ(lines.back(), "COM 18");

    CTerminalDlg dialog;
    EXPECT_EQ(dialog.PortChoice, -1) << "no line until the command chooses one";
    dialog.PortChoice = 0;
    EXPECT_EQ(dialog.InitialSelection(), 0);
    dialog.OnOK(17);
    EXPECT_EQ(dialog.PortChoice, 17);
}

}  // namespace
