#include "app/main_frame.h"

#include <cstdio>

#include "app/resources.h"

WindowGeometry CMainFrame::InitialGeometry(int maximised_width) {
    return {maximised_width / 2 - kWidth / 2, 0, kWidth, kHeight};
}

const std::vector<int>& CMainFrame::StatusBarIndicators() {
    static const std::vector<int> indicators = {ID_SEPARATOR, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
                                                ID_INDICATOR_SCRL};
    return indicators;
}

std::string CMainFrame::MessagePaneText(std::optional<int> highlighted_command) {
    if (highlighted_command) {
        return CommandPrompt(*highlighted_command);
    }
    return LoadResourceString(IDS_IDLE_MESSAGE);
}

std::string CMainFrame::IndicatorText(int indicator, const LockKeyState& keys) {
    const bool on = (indicator == ID_INDICATOR_CAPS && keys.caps) ||
                    (indicator == ID_INDICATOR_NUM && keys.num) ||
                    (indicator == ID_INDICATOR_SCRL && keys.scroll);
    return on ? LoadResourceString(indicator) : std::string();
}

int CMainFrame::OnCreate(bool frame_created, bool status_bar_created) {
    if (!frame_created) {
        return -1;
    }
    if (!status_bar_created) {
        std::fputs(kStatusBarTrace, stderr);
        return -1;
    }
    return 0;
}
