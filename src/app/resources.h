// The program's resources, independent of any toolkit: command and control
// identifiers, the menu with its prompts, the accelerator table, the string
// table, the document string and the texts of the About box. Front ends build
// their menus, shortcuts and status bar from these tables.
#pragma once

#include <string>
#include <vector>

// Resource identifiers.
inline constexpr int IDR_MAINFRAME = 128;  // menu, accelerators, icon, document string
inline constexpr int IDD_ABOUTBOX = 100;
inline constexpr int IDD_TERMINAL = 130;
inline constexpr int IDC_PORT_LIST = 1004;
inline constexpr int IDC_OK_BUTTON = 1;
inline constexpr int IDC_CANCEL_BUTTON = 2;

// Commands of the menu.
inline constexpr int ID_ACQUISITION_START = 32771;
inline constexpr int ID_ACQUISITION_STOP = 32772;
inline constexpr int ID_VIEW_TERMINAL_DATA = 32775;
inline constexpr int ID_VIEW_LOG_ENTRIES = 32778;
inline constexpr int ID_VIEW_ARCHIVED_DATA = 32779;
inline constexpr int ID_VIEW_DIAGNOSTIC_STATISTICS = 32780;
inline constexpr int ID_HELP_OPERATING_INSTRUCTIONS = 57670;
inline constexpr int ID_APP_ABOUT = 57664;
inline constexpr int ID_APP_EXIT = 57665;

// Standard commands named by the accelerator table.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_PASTE = 57637;
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;

// Strings and status bar.
inline constexpr int IDS_APP_TITLE = 57344;
inline constexpr int IDS_IDLE_MESSAGE = 57345;
inline constexpr int ID_INDICATOR_CAPS = 59137;
inline constexpr int ID_INDICATOR_NUM = 59138;
inline constexpr int ID_INDICATOR_SCRL = 59139;
inline constexpr int IDW_STATUS_BAR = 59393;

inline constexpr char kApplicationTitle[] = "Quorvane";
inline constexpr char kMainWindowTitle[] = "Quorvane - KOVA/BRN Data Acquisition Systems";
// Window title, document name, new-file name, filter, extension, registry
// type identifier, registry type name.
inline constexpr char kDocumentString[] =
    "Quorvane\n\nQuorva\n\n\nQuorvane.Document\nQuorva Document";

struct MenuItem {
    const char* text;  // "&" marks the mnemonic letter
    int command;
};

struct MenuPopup {
    const char* title;
    std::vector<MenuItem> items;
};

// The main menu, popups and items in order.
const std::vector<MenuPopup>& MainMenu();

// The string of `id` from the string table, "" when there is none. Command
// prompts may carry a tool-tip after a line break ("prompt\ntip").
std::string LoadResourceString(int id);
// The status-bar prompt of a command: its string up to the line break.
std::string CommandPrompt(int command);
// The tool-tip of a command: its string after the line break, "" if none.
std::string CommandToolTip(int command);

enum KeyModifier : unsigned {
    kNoModifier = 0,
    kCtrl = 1,
    kShift = 2,
    kAlt = 4,
};

enum class Key { N, O, S, Z, X, C, V, Backspace, Delete, Insert, F6 };

struct Accelerator {
    unsigned modifiers;
    Key key;
    int command;
};

// Accelerator table 128, in resource order.
const std::vector<Accelerator>& AcceleratorTable();

// About box (dialog 100), in dialog units.
struct DialogItem {
    const char* text;  // "" for the icon
    int x;
    int y;
    int width;  // 0: sized by its content
    int height;
};
struct AboutBoxLayout {
    const char* caption;
    int width;
    int height;
    DialogItem icon;
    DialogItem version;
    DialogItem ok_button;
    std::vector<DialogItem> credits;
};
const AboutBoxLayout& AboutBox();

// Dialog units to pixels for the dialog font ("MS Sans Serif" 8 point: a
// character cell of 6 by 13 pixels; four horizontal and eight vertical units
// per cell).
int DialogUnitsToPixelsX(int units);
int DialogUnitsToPixelsY(int units);
