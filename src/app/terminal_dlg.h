// The Terminal Data dialog: which of eighteen serial ports to look at through
// the terminal emulator. It knows nothing of the configuration.
#pragma once

#include <string>
#include <vector>

class CTerminalDlg {
public:
    // Zero-based line of the port list: 0 is "COM 1", 17 is "COM 18";
    // -1 selects nothing.
    int PortChoice = -1;

    // The port list, in order: "COM 1" ... "COM 18".
    static const std::vector<std::string>& PortLines();

    // Data exchange. When the dialog opens, the list shows this line.
    int InitialSelection() const { return PortChoice; }
    // OK: the selected line becomes the choice. Cancel leaves it as it was.
    void OnOK(int selected_line) { PortChoice = selected_line; }

    // Layout (dialog resource 130), in dialog units.
    struct Control {
        const char* text;
        int id;  // 0 for the group box
        int x;
        int y;
        int width;
        int height;
    };
    static constexpr const char* kCaption = "Terminal Data";
    static constexpr int kWidth = 138;
    static constexpr int kHeight = 116;
    static constexpr Control kGroupBox{"Port", 0, 34, 17, 66, 53};
    // The height includes the opened list.
    static constexpr Control kPortList{"", 1004, 43, 38, 48, 48};
    static constexpr Control kOkButton{"OK", 1, 13, 91, 50, 16};
    static constexpr Control kCancelButton{"Cancel", 2, 76, 91, 45, 16};
};
