#include "app/resources.h"

#include <map>

#include "version/version.h"

namespace {

const std::map<int, std::string>& StringTable() {
    static const std::map<int, std::string> table = {
        {IDR_MAINFRAME, kDocumentString},
        {IDS_APP_TITLE, kApplicationTitle},
        {IDS_IDLE_MESSAGE, "Ready"},
        {ID_INDICATOR_CAPS, "CAP"},
        {ID_INDICATOR_NUM, "NUM"},
        {ID_INDICATOR_SCRL, "SCRL"},
        {ID_APP_EXIT, "Stop Acquisition; Quit the application"},
        {ID_ACQUISITION_START, "Start data acquisition"},
        {ID_ACQUISITION_STOP, "Stop data acquisition"},
        {ID_VIEW_TERMINAL_DATA, "View COM port data through the terminal emulator"},
        {ID_VIEW_LOG_ENTRIES, "View entries in log file"},
        {ID_VIEW_DIAGNOSTIC_STATISTICS, "View diagnostic statistic files"},
        {ID_VIEW_ARCHIVED_DATA, "View archived data files"},
        {ID_HELP_OPERATING_INSTRUCTIONS, "View Quorvane operating instructions."},
        {ID_APP_ABOUT, "Display program information, version number and copyright\nAbout"},
    };
    return table;
}

}  // namespace

const std::vector<MenuPopup>& MainMenu() {
    static const std::vector<MenuPopup> menu = {
        {"&File", {{"E&xit", ID_APP_EXIT}}},
        {"&Acquisition",
         {{"&Start Data Acquisition", ID_ACQUISITION_START},
          {"S&top Data Acquisition", ID_ACQUISITION_STOP}}},
        {"&View",
         {{"&Terminal Data", ID_VIEW_TERMINAL_DATA},
          {"&Log Entries", ID_VIEW_LOG_ENTRIES},
          {"&Diagnostic Statistics", ID_VIEW_DIAGNOSTIC_STATISTICS},
          {"&Archived Data", ID_VIEW_ARCHIVED_DATA}}},
        {"&Help",
         {{"&Operating Instructions", ID_HELP_OPERATING_INSTRUCTIONS},
          {"&About Quorvane...", ID_APP_ABOUT}}},
    };
    return menu;
}

std::string LoadResourceString(int id) {
    const auto& table = StringTable();
    const auto found = table.find(id);
    return found == table.end() ? std::string() : found->second;
}

std::string CommandPrompt(int command) {
    const std::string text = LoadResourceString(command);
    return text.substr(0, text.find('\n'));
}

std::string CommandToolTip(int command) {
    const std::string text = LoadResourceString(command);
    const auto line_break = text.find('\n');
    return line_break == std::string::npos ? std::string() : text.substr(line_break + 1);
}

const std::vector<Accelerator>& AcceleratorTable() {
    static const std::vector<Accelerator> table = {
        {kCtrl, Key::N, ID_FILE_NEW},         {kCtrl, Key::O, ID_FILE_OPEN},
        {kCtrl, Key::S, ID_FILE_SAVE},        {kCtrl, Key::Z, ID_EDIT_UNDO},
        {kCtrl, Key::X, ID_EDIT_CUT},         {kCtrl, Key::C, ID_EDIT_COPY},
        {kCtrl, Key::V, ID_EDIT_PASTE},       {kAlt, Key::Backspace, ID_EDIT_UNDO},
        {kShift, Key::Delete, ID_EDIT_CUT},   {kCtrl, Key::Insert, ID_EDIT_COPY},
        {kShift, Key::Insert, ID_EDIT_PASTE}, {kNoModifier, Key::F6, ID_NEXT_PANE},
        {kShift, Key::F6, ID_PREV_PANE},
    };
    return table;
}

const AboutBoxLayout& AboutBox() {
    static const std::string version_text = std::string("Quorvane Version ") + kProgramVersion;
    static const AboutBoxLayout layout = {
        "About Quorvane",
        190,
        185,
        {"", 11, 17, 20, 20},
        {version_text.c_str(), 53, 17, 85, 8},
        {"OK", 145, 17, 27, 21},
        {
            {"KOVA/BRN Data Acquisition Systems", 53, 45, 125, 8},
            {"KOVA - Brenthal", 53, 57, 125, 8},
            {"Unattended serial data logger for", 53, 81, 125, 8},
            {"measurement stations.", 53, 93, 125, 8},
        },
    };
    return layout;
}

int DialogUnitsToPixelsX(int units) {
    return units * 6 / 4;
}

int DialogUnitsToPixelsY(int units) {
    return units * 13 / 8;
}
