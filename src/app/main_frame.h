// The main window's own decisions: its initial size and position, the panes
// of its status bar and what they show.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct WindowGeometry {
    int x;
    int y;
    int width;  // outer size, caption, menu and status bar included
    int height;
};

struct LockKeyState {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

class CMainFrame {
public:
    static constexpr int kWidth = 567;
    static constexpr int kHeight = 259;

    // Centred horizontally on a maximised window `maximised_width` pixels
    // wide (both halves truncated), at the top edge of the screen.
    static WindowGeometry InitialGeometry(int maximised_width);

    // The status bar's panes from left to right: the message pane (0), then
    // the Caps Lock, Num Lock and Scroll Lock indicators.
    static const std::vector<int>& StatusBarIndicators();

    // The message pane: the prompt of the highlighted menu command, "Ready"
    // when none is highlighted.
    static std::string MessagePaneText(std::optional<int> highlighted_command);
    // An indicator pane: its text while its key is on, empty otherwise.
    static std::string IndicatorText(int indicator, const LockKeyState& keys);

    // The frame's creation hook: 0, or -1 (after the trace text) when the
    // frame or its status bar could not be created.
    static int OnCreate(bool frame_created, bool status_bar_created);
};

inline constexpr int ID_SEPARATOR = 0;
inline constexpr char kStatusBarTrace[] = "Failed to create status bar\n";
