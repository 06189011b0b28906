#include "app/terminal_dlg.h"

const std::vector<std::string>& CTerminalDlg::PortLines() {
    static const std::vector<std::string> lines = [] {
        std::vector<std::string> result;
        for (int port = 1; port <= 18; ++port) {
            result.push_back("COM " + std::to_string(port));
        }
        return result;
    }();
    return lines;
}
