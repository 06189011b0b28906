// The Win32 window, driven in this process as the operator and the window
// system would drive it: commands as WM_COMMAND, menus opened with
// WM_INITMENUPOPUP, dialogs and boxes answered from their own loops, and the
// page read back pixel by pixel from the screen. The refused configuration
// runs the real quorvane.exe.
#include <gtest/gtest.h>
// windows.h comes before the headers that build on it.
// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <dlgs.h>
// clang-format on

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "acquisition/acquisition_thread.h"
#include "acquisition/status.h"
#include "app/quorvane_app.h"
#include "app/resources.h"
#include "app/terminal_dlg.h"
#include "app/viewers.h"
#include "gui/win32/win32_front_end.h"
#include "modal_answers.h"
#include "platform/process.h"
#include "support/process_watch.h"
#include "support/recorded_programs.h"
#include "support/station.h"

namespace {

using testing_support::RecordedPrograms;
using testing_support::Station;
using testing_support::StationPort;
using namespace win32_testing;

constexpr auto kDeadline = std::chrono::seconds(30);

std::string StatusTextNow(StatusIndex index) {
    std::lock_guard<std::mutex> lock(StatusLock);
    return StatusText(index);
}

COLORREF Colour(const Rgb& rgb) {
    return RGB(rgb.r, rgb.g, rgb.b);
}

// pixel = white + share * (colour - white) for one share in all channels.
bool IsBlendWithWhite(COLORREF pixel, COLORREF colour) {
    const int channels[3][2] = {{GetRValue(pixel), GetRValue(colour)},
                                {GetGValue(pixel), GetGValue(colour)},
                                {GetBValue(pixel), GetBValue(colour)}};
    int widest = 0;
    for (int i = 1; i < 3; ++i) {
        if (255 - channels[i][1] > 255 - channels[widest][1]) {
            widest = i;
        }
    }
    const double share = (255.0 - channels[widest][0]) / std::max(1, 255 - channels[widest][1]);
    if (share < 0.0 || share > 1.0) {
        return false;
    }
    for (const auto& channel : channels) {
        const double expected = 255.0 - share * (255 - channel[1]);
        if (std::abs(channel[0] - expected) > 3.0) {
            return false;
        }
    }
    return true;
}

// The view's client area as the screen shows it.
class Picture {
public:
    explicit Picture(HWND window) {
        RECT client;
        GetClientRect(window, &client);
        width_ = client.right;
        height_ = client.bottom;
        HDC screen = GetDC(window);
        HDC memory = CreateCompatibleDC(screen);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;  // top row first
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        void* bits = nullptr;
        HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
        HGDIOBJ previous = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, width_, height_, screen, 0, 0, SRCCOPY);
        GdiFlush();
        const auto* pixels = static_cast<const uint32_t*>(bits);
        pixels_.assign(pixels, pixels + width_ * height_);
        SelectObject(memory, previous);
        DeleteObject(bitmap);
        DeleteDC(memory);
        ReleaseDC(window, screen);
    }

    COLORREF At(int x, int y) const {
        const uint32_t bgr = pixels_[static_cast<std::size_t>(y * width_ + x)];
        return RGB((bgr >> 16) & 0xff, (bgr >> 8) & 0xff, bgr & 0xff);
    }

    // Whether the text pixels of one line, from x on, are all of `colour`:
    // each pixel that is not the white page is the colour itself or, where
    // the font smooths its edges, a blend of the colour with white; and the
    // colour itself is there.
    bool TextIsIn(COLORREF colour, int x, int y, int width = 300) const {
        bool seen = false;
        for (int row = y; row < y + 16 && row < height_; ++row) {
            for (int column = x; column < x + width && column < width_; ++column) {
                const COLORREF pixel = At(column, row);
                if (pixel == RGB(255, 255, 255)) {
                    continue;
                }
                if (!IsBlendWithWhite(pixel, colour)) {
                    return false;
                }
                seen = seen || pixel == colour;
            }
        }
        return seen;
    }

    // Nothing but the white page in this line, from x on.
    bool IsBlank(int x, int y, int width = 300) const {
        for (int row = y; row < y + 16 && row < height_; ++row) {
            for (int column = x; column < x + width && column < width_; ++column) {
                if (At(column, row) != RGB(255, 255, 255)) {
                    return false;
                }
            }
        }
        return true;
    }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<uint32_t> pixels_;
};

// Handles this thread's messages until `done` holds or the deadline passes.
template <typename Condition>
bool PumpUntil(Win32FrontEnd& front_end, Condition done) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message != WM_QUIT) {  // left behind by an earlier window
                front_end.ProcessMessage(message);
            }
        }
    }
    return true;
}

std::string StatusBarText(HWND bar, int pane) {
    const auto length = LOWORD(SendMessageA(bar, SB_GETTEXTLENGTHA, pane, 0));
    std::string text(length + 1u, '\0');
    SendMessageA(bar, SB_GETTEXTA, pane, reinterpret_cast<LPARAM>(text.data()));
    text.resize(length);
    return text;
}

std::string MenuText(HMENU menu, int position) {
    char text[256] = {};
    GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
    return text;
}

// The thread's keyboard state with these keys toggled on (low bit) or held
// down (high bit), as the window system would report them.
void SetKeys(std::initializer_list<std::pair<int, BYTE>> keys) {
    BYTE state[256] = {};
    for (const auto& [key, value] : keys) {
        state[key] = value;
    }
    SetKeyboardState(state);
}

// A closed main window ends the thread's message loop; the next test's
// window and boxes must not see that.
void ForgetQuit() {
    MSG quit;
    PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

class Window : public ::testing::Test {
protected:
    void SetUp() override { station.WriteIni(station.ValidIni()); }

    void TearDown() override {
        if (front_end.Frame() != nullptr) {
            DestroyWindow(front_end.Frame());
        }
        ForgetQuit();
        ForgetViewerProcesses();
        CommandLineArgument.reset();
        SetKeys({});
        EXPECT_TRUE(AllModalsAnswered());
    }

    void StartUp(const std::vector<std::string>& arguments = {}) {
        app = std::make_unique<CQuorvaneApp>(front_end);
        front_end.SetApplication(*app);
        ASSERT_TRUE(app->InitInstance(arguments));
    }

    HWND frame() const { return front_end.Frame(); }

    void Command(int command) { SendMessageA(frame(), WM_COMMAND, MAKEWPARAM(command, 0), 0); }

    // The popup of the menu bar that holds `command`.
    HMENU PopupOf(int command) const {
        HMENU bar = GetMenu(frame());
        for (int i = 0; i < GetMenuItemCount(bar); ++i) {
            HMENU popup = GetSubMenu(bar, i);
            if (GetMenuState(popup, static_cast<UINT>(command), MF_BYCOMMAND) !=
                static_cast<UINT>(-1)) {
                return popup;
            }
        }
        return nullptr;
    }

    // The menu state as the menu shows it when it opens.
    bool EnabledInMenu(int command) {
        HMENU popup = PopupOf(command);
        SendMessageA(frame(), WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(popup), 0);
        return (GetMenuState(popup, static_cast<UINT>(command), MF_BYCOMMAND) & MF_GRAYED) == 0;
    }

    // The page as painted now.
    Picture Page() {
        UpdateWindow(front_end.View());
        return Picture(front_end.View());
    }

    bool WaitForRunningStatus() {
        return PumpUntil(front_end, [] {
            return StatusTextNow(kStatusReceivedData).find("UTC") != std::string::npos;
        });
    }

    // The message of the next box, which is answered with OK.
    void ExpectBox(std::string* text, int* buttons = nullptr, std::string* caption = nullptr) {
        AnswerNextModal([=](HWND box) {
            *text = MessageBoxText(box);
            if (buttons != nullptr) {
                *buttons = ButtonCount(box);
            }
            if (caption != nullptr) {
                *caption = TextOf(box);
            }
            PressButton(box, IDOK);
        });
    }

    Station station;
    Win32FrontEnd front_end{GetModuleHandleA(nullptr)};
    std::unique_ptr<CQuorvaneApp> app;
};

TEST_F(Window, OpensCentredAtTheTopWithItsTitleAndIcon) {
    ASSERT_EQ(GetSystemMetrics(SM_CXMAXIMIZED), 1032) << "a 1024-pixel screen";
    StartUp();
    RECT outer;
    GetWindowRect(frame(), &outer);
    EXPECT_EQ(outer.left, 233);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(outer.right - outer.left, 567);
    EXPECT_EQ(outer.bottom - outer.top, 259);
    EXPECT_TRUE(IsWindowVisible(frame()));
    char title[128] = {};
    GetWindowTextA(frame(), title, sizeof title);
    EXPECT_STREQ(title, "Quorvane - KOVA/BRN Data Acquisition Systems");
    EXPECT_NE(SendMessageA(frame(), WM_GETICON, ICON_SMALL, 0), 0);
    EXPECT_NE(GetClassLongPtrA(frame(), GCLP_HICON), 0);
    const auto style = GetWindowLongA(frame(), GWL_STYLE);
    EXPECT_EQ(style & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
}

TEST_F(Window, MenuHasItsPopupsAndItemsWithMnemonicsAndCommands) {
    StartUp();
    HMENU bar = GetMenu(frame());
    std::vector<std::string> popups;
    std::vector<std::string> items;
    std::vector<int> commands;
    for (int i = 0; i < GetMenuItemCount(bar); ++i) {
        popups.push_back(MenuText(bar, i));
        HMENU popup = GetSubMenu(bar, i);
        for (int j = 0; j < GetMenuItemCount(popup); ++j) {
            items.push_back(MenuText(popup, j));
            commands.push_back(static_cast<int>(GetMenuItemID(popup, j)));
        }
    }
    EXPECT_EQ(popups, (std::vector<std::string>{"&File", "&Acquisition", "&View", "&Help"}));
    EXPECT_EQ(items, (std::vector<std::string>{
                         "E&xit", "&Start Data Acquisition", "S&top Data Acquisition",
                         "&Terminal Data", "&Log Entries", "&Diagnostic Statistics",
                         "&Archived Data", "&Operating Instructions", "&About Quorvane..."}));
    EXPECT_EQ(commands,
              (std::vector<int>{57665, 32771, 32772, 32775, 32778, 32780, 32779, 57670, 57664}));
}

TEST(Resources, StringsAcceleratorsAndVersionAreTheShells) {
    HINSTANCE self = GetModuleHandleA(nullptr);
    for (int id :
         {IDR_MAINFRAME, IDS_APP_TITLE, IDS_IDLE_MESSAGE, ID_INDICATOR_CAPS, ID_INDICATOR_NUM,
          ID_INDICATOR_SCRL, ID_APP_EXIT, ID_ACQUISITION_START, ID_ACQUISITION_STOP,
          ID_VIEW_TERMINAL_DATA, ID_VIEW_LOG_ENTRIES, ID_VIEW_DIAGNOSTIC_STATISTICS,
          ID_VIEW_ARCHIVED_DATA, ID_HELP_OPERATING_INSTRUCTIONS, ID_APP_ABOUT}) {
        char text[512] = {};
        LoadStringA(self, static_cast<UINT>(id), text, sizeof text);
        EXPECT_EQ(text, LoadResourceString(id)) << "string " << id;
    }

    HACCEL table = LoadAcceleratorsA(self, MAKEINTRESOURCEA(IDR_MAINFRAME));
    ASSERT_NE(table, nullptr);
    std::vector<ACCEL> entries(static_cast<std::size_t>(CopyAcceleratorTableA(table, nullptr, 0)));
    CopyAcceleratorTableA(table, entries.data(), static_cast<int>(entries.size()));
    const std::vector<Accelerator>& expected = AcceleratorTable();
    ASSERT_EQ(entries.size(), expected.size());
    auto virtual_key = [](Key key) -> WORD {
        switch (key) {
            case Key::N:
                return 'N';
            case Key::O:
                return 'O';
            case Key::S:
                return 'S';
            case Key::Z:
                return 'Z';
            case Key::X:
                return 'X';
            case Key::C:
                return 'C';
            case Key::V:
                return 'V';
            case Key::Backspace:
                return VK_BACK;
            case Key::Delete:
                return VK_DELETE;
            case Key::Insert:
                return VK_INSERT;
            case Key::F6:
                return VK_F6;
        }
        return 0;
    };
    for (std::size_t i = 0; i < entries.size(); ++i) {
        BYTE modifiers = FVIRTKEY;
        modifiers |= (expected[i].modifiers & kCtrl) != 0 ? FCONTROL : 0;
        modifiers |= (expected[i].modifiers & kShift) != 0 ? FSHIFT : 0;
        modifiers |= (expected[i].modifiers & kAlt) != 0 ? FALT : 0;
        EXPECT_EQ(entries[i].fVirt & ~0x80, modifiers) << "entry " << i;
        EXPECT_EQ(entries[i].key, virtual_key(expected[i].key)) << "entry " << i;
        EXPECT_EQ(entries[i].cmd, expected[i].command) << "entry " << i;
    }

    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::vector<char> info(GetFileVersionInfoSizeA(path, nullptr));
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoA(path, 0, static_cast<DWORD>(info.size()), info.data()));
    char* version = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\StringFileInfo\\040904B0\\FileVersion",
                               reinterpret_cast<void**>(&version), &length));
    EXPECT_STREQ(version, "1.3");
    VS_FIXEDFILEINFO* fixed = nullptr;
    ASSERT_TRUE(VerQueryValueA(info.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010003u);
}

TEST_F(Window, StatusBarShowsReadyAndThePromptOfTheHighlightedItem) {
    StartUp();
    HWND bar = front_end.StatusBar();
    EXPECT_EQ(GetDlgCtrlID(bar), 59393);
    EXPECT_EQ(SendMessageA(bar, SB_GETPARTS, 0, 0), 4);
    EXPECT_EQ(StatusBarText(bar, 0), "Ready");

    HMENU view_menu = PopupOf(ID_VIEW_LOG_ENTRIES);
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(ID_VIEW_LOG_ENTRIES, MF_HILITE),
                 reinterpret_cast<LPARAM>(view_menu));
    EXPECT_EQ(StatusBarText(bar, 0), "View entries in log file");
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(ID_VIEW_ARCHIVED_DATA, MF_HILITE),
                 reinterpret_cast<LPARAM>(view_menu));
    EXPECT_EQ(StatusBarText(bar, 0), "View archived data files");
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(ID_APP_ABOUT, MF_HILITE),
                 reinterpret_cast<LPARAM>(PopupOf(ID_APP_ABOUT)));
    EXPECT_EQ(StatusBarText(bar, 0), "Display program information, version number and copyright");
    SendMessageA(frame(), WM_MENUSELECT, MAKEWPARAM(0, 0xFFFF), 0);  // the menu closed
    EXPECT_EQ(StatusBarText(bar, 0), "Ready");
}

TEST_F(Window, LockKeyPanesShowTheirKeysWhileOn) {
    StartUp();
    HWND bar = front_end.StatusBar();
    SetKeys({{VK_CAPITAL, 1}, {VK_SCROLL, 1}});
    SendMessageA(front_end.View(), WM_KEYUP, VK_CAPITAL, 0xC0000001);
    EXPECT_EQ(StatusBarText(bar, 1), "CAP");
    EXPECT_EQ(StatusBarText(bar, 2), "");
    EXPECT_EQ(StatusBarText(bar, 3), "SCRL");
    SetKeys({{VK_NUMLOCK, 1}});
    SendMessageA(front_end.View(), WM_KEYUP, VK_NUMLOCK, 0xC0000001);
    EXPECT_EQ(StatusBarText(bar, 1), "");
    EXPECT_EQ(StatusBarText(bar, 2), "NUM");
    EXPECT_EQ(StatusBarText(bar, 3), "");
}

TEST_F(Window, StartAndStopAreEnabledByTheAcquisitionState) {
    StartUp();
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_STOP));
    EXPECT_TRUE(EnabledInMenu(ID_VIEW_TERMINAL_DATA));

    Command(ID_ACQUISITION_START);
    ASSERT_NE(ActiveAcquisitionThread, nullptr);
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_STOP));
    EXPECT_TRUE(EnabledInMenu(ID_VIEW_ARCHIVED_DATA));

    Command(ID_ACQUISITION_STOP);
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_STOP));
}

TEST_F(Window, StoppedPageIsBlueBlackAndDarkGreen) {
    StartUp();
    const Picture page = Page();
    for (int y : {2, 18, 34}) {
        EXPECT_TRUE(page.TextIsIn(Colour(kBlue), 10, y, 540)) << "y = " << y;
    }
    for (int i = 0; i < kStatusCount; ++i) {
        const int y = 60 + 16 * i;
        EXPECT_TRUE(page.TextIsIn(Colour(kBlack), 10, y, 140)) << "y = " << y;
        EXPECT_TRUE(page.TextIsIn(Colour(kDarkGreen), 160, y)) << "y = " << y;
    }
    EXPECT_FALSE(page.TextIsIn(Colour(kRed), 160, 92)) << "the check tells colours apart";
}

TEST_F(Window, RunningPageShowsProblemsInRedAndPendingValuesInPurple) {
    StartUp();
    Command(ID_ACQUISITION_START);
    ASSERT_TRUE(WaitForRunningStatus());
    const Picture running = Page();
    // A minute's status update may come between start and picture: it turns
    // "First update at ..." into "None" (nothing received, no port).
    const std::string received = StatusTextNow(kStatusReceivedData);
    const COLORREF received_colour =
        received.find("First") != std::string::npos ? Colour(kPurple) : Colour(kRed);
    EXPECT_TRUE(running.TextIsIn(Colour(kDarkGreen), 160, 60));
    EXPECT_TRUE(running.TextIsIn(Colour(kRed), 160, 92))
        << "no port open: \"" << StatusTextNow(kStatusPortsOpen) << "\"";
    EXPECT_TRUE(running.TextIsIn(Colour(kDarkGreen), 160, 108));
    EXPECT_TRUE(running.TextIsIn(received_colour, 160, 124)) << "\"" << received << "\"";

    Command(ID_ACQUISITION_STOP);
    const Picture stopped = Page();
    for (int i = 0; i < kStatusCount; ++i) {
        const int y = 60 + 16 * i;
        EXPECT_TRUE(stopped.IsBlank(160, y) || stopped.TextIsIn(Colour(kDarkGreen), 160, y))
            << "y = " << y;
    }
    EXPECT_TRUE(stopped.TextIsIn(Colour(kDarkGreen), 160, 92))
        << "the same \"None\" is dark green once stopped";
}

TEST_F(Window, AutoStartsAtTheFirstPaintAndAgainAfterAStop) {
    StartUp({"/auto"});
    EXPECT_NE(ActiveAcquisitionThread, nullptr) << "started while the window was first painted";
    EXPECT_FALSE(EnabledInMenu(ID_ACQUISITION_START));
    EXPECT_TRUE(EnabledInMenu(ID_ACQUISITION_STOP));
    Command(ID_ACQUISITION_STOP);
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    ShowWindow(frame(), SW_MINIMIZE);
    ShowWindow(frame(), SW_RESTORE);
    EXPECT_TRUE(PumpUntil(front_end, [] { return ActiveAcquisitionThread != nullptr; }))
        << "the paint after the restore starts it again";
}

TEST_F(Window, CtrlNReadsTheFileAgainOnlyWhileStopped) {
    StartUp();
    auto press_ctrl_n = [this] {
        SetKeys({{VK_CONTROL, 0x80}});
        MSG key{front_end.View(), WM_KEYDOWN, 'N', 0x00310001, GetTickCount(), {}};
        front_end.ProcessMessage(key);
        SetKeys({});
    };
    press_ctrl_n();
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "00"}));

    Command(ID_ACQUISITION_START);
    std::string text;
    ExpectBox(&text);
    press_ctrl_n();
    EXPECT_EQ(text, kNewWhileRunningMessage);
    EXPECT_NE(ActiveAcquisitionThread, nullptr);
}

TEST_F(Window, ClosingWhileRunningStopsAcquisitionBeforeTheShutdownEntry) {
    StartUp();
    Command(ID_ACQUISITION_START);
    Command(ID_APP_EXIT);
    EXPECT_EQ(frame(), nullptr) << "the window is gone";
    EXPECT_EQ(ActiveAcquisitionThread, nullptr);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "03", "04", "02"}));
}

TEST_F(Window, TheCloseBoxAsksNothingAndEndsTheLoop) {
    StartUp();
    Command(ID_ACQUISITION_START);
    PostMessageA(frame(), WM_SYSCOMMAND, SC_CLOSE, 0);
    MSG message;
    bool quit = false;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (!quit && std::chrono::steady_clock::now() < deadline &&
           GetMessageA(&message, nullptr, 0, 0) >= 0) {
        quit = message.message == WM_QUIT;
        if (!quit) {
            front_end.ProcessMessage(message);
        }
    }
    EXPECT_TRUE(quit);
    EXPECT_EQ(frame(), nullptr);
    EXPECT_EQ(station.LogCodes(), (std::vector<std::string>{"00", "03", "04", "02"}));
}

TEST_F(Window, ViewersStartedFromTheMenuAreEndedAtShutdown) {
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    programs.StayRunning(true);
    StartUp();
    testing_support::WriteFile(station.Output() + "\\00001.sta", "statistics");
    Command(ID_VIEW_DIAGNOSTIC_STATISTICS);
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"v.exe", station.Output() + "\\00001.sta"}));
    ASSERT_EQ(ViewerProcesses.size(), 1u);
    // The shutdown collects the viewer and closes its handle, so the test
    // watches the process through a handle of its own.
    const testing_support::ProcessWatch viewer(ViewerProcesses.front());
    Command(ID_APP_EXIT);
    EXPECT_TRUE(viewer.Ended());
}

TEST_F(Window, MenuCommandMessagesAppearInAQuorvaneBoxWithOneButton) {
    StartUp();
    std::string text;
    std::string caption;
    int buttons = 0;
    ExpectBox(&text, &buttons, &caption);
    Command(ID_HELP_OPERATING_INSTRUCTIONS);
    EXPECT_EQ(caption, "Quorvane");
    EXPECT_EQ(text, "Can't find QuorvaneHelpV1.3.doc.");
    EXPECT_EQ(buttons, 1);
}

TEST_F(Window, AMessageFromAnotherThreadWaitsForOkInTheWindowsThread) {
    StartUp();
    std::string text;
    std::string caption;
    ExpectBox(&text, nullptr, &caption);
    std::atomic<bool> returned{false};
    std::thread worker([&returned] {
        ShowOperatorMessageInWindow("Memory allocation error for array GotData.\n");
        returned.store(true);
    });
    EXPECT_TRUE(PumpUntil(front_end, [&returned] { return returned.load(); }));
    worker.join();
    EXPECT_EQ(caption, "Quorvane");
    EXPECT_EQ(text, "Memory allocation error for array GotData.\n");
}

TEST_F(Window, TerminalDataOffersEighteenPortsAndOkGivesTheSelectedOne) {
    StartUp();
    std::string caption;
    std::vector<std::string> lines;
    std::string first_message;
    AnswerNextModal([&](HWND dialog) {
        caption = TextOf(dialog);
        HWND list = GetDlgItem(dialog, IDC_PORT_LIST);
        for (int i = 0; i < SendMessageA(list, CB_GETCOUNT, 0, 0); ++i) {
            char line[32] = {};
            SendMessageA(list, CB_GETLBTEXT, static_cast<WPARAM>(i),
                         reinterpret_cast<LPARAM>(line));
            lines.push_back(line);
        }
        EXPECT_EQ(SendMessageA(list, CB_GETCURSEL, 0, 0), 0) << "COM 1 is selected";
        PressButton(dialog, IDOK);
    });
    ExpectBox(&first_message);
    Command(ID_VIEW_TERMINAL_DATA);
    EXPECT_EQ(caption, "Terminal Data");
    EXPECT_EQ(lines, CTerminalDlg::PortLines());
    ASSERT_EQ(lines.size(), 18u);
    EXPECT_EQ(lines.back(), "COM 18");
    EXPECT_EQ(first_message, "COM1 is not defined in Quorvane.ini.\n");

    std::string last_message;
    AnswerNextModal([](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 17, 0);
        PressButton(dialog, IDOK);
    });
    ExpectBox(&last_message);
    Command(ID_VIEW_TERMINAL_DATA);
    EXPECT_EQ(last_message, "COM18 is not defined in Quorvane.ini.\n");
}

TEST_F(Window, TerminalDataStartsTheEmulatorWithFiveValues) {
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    station.WriteIni(station.ValidIni({StationPort{2, "19200", "E", "7", "2", ""}}));
    StartUp();
    AnswerNextModal([](HWND dialog) {
        SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 1, 0);
        PressButton(dialog, IDOK);
    });
    Command(ID_VIEW_TERMINAL_DATA);
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"Wexlorant.exe", "2", "19200", "E", "7", "2"}));
}

TEST_F(Window, TerminalDialogLayoutAndCancel) {
    CTerminalDlg choice;
    choice.PortChoice = 0;
    auto expect_at = [](HWND dialog, HWND control, const CTerminalDlg::Control& layout,
                        bool full_height) {
        // Position and size are converted each on its own, as the dialog
        // manager does.
        RECT place{layout.x, layout.y, layout.width, layout.height};
        MapDialogRect(dialog, &place);
        const RECT expected{place.left, place.top, place.left + place.right,
                            place.top + place.bottom};
        RECT actual;
        GetWindowRect(control, &actual);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
        EXPECT_EQ(actual.left, expected.left) << layout.text;
        EXPECT_EQ(actual.top, expected.top) << layout.text;
        EXPECT_EQ(actual.right, expected.right) << layout.text;
        if (full_height) {
            EXPECT_EQ(actual.bottom, expected.bottom) << layout.text;
        }
        if (layout.id != 0) {
            EXPECT_EQ(GetDlgCtrlID(control), layout.id) << layout.text;
        }
    };
    AnswerNextModal([&](HWND dialog) {
        RECT client;
        GetClientRect(dialog, &client);
        RECT size{0, 0, CTerminalDlg::kWidth, CTerminalDlg::kHeight};
        MapDialogRect(dialog, &size);
        EXPECT_EQ(client.right, size.right);
        EXPECT_EQ(client.bottom, size.bottom);
        expect_at(dialog, GetDlgItem(dialog, IDOK), CTerminalDlg::kOkButton, true);
        expect_at(dialog, GetDlgItem(dialog, IDCANCEL), CTerminalDlg::kCancelButton, true);
        expect_at(dialog, GetDlgItem(dialog, IDC_PORT_LIST), CTerminalDlg::kPortList, false);
        HWND group = FindWindowExA(dialog, nullptr, "Button", "Port");
        ASSERT_NE(group, nullptr);
        expect_at(dialog, group, CTerminalDlg::kGroupBox, true);
        EXPECT_EQ(GetWindowLongA(GetDlgItem(dialog, IDC_PORT_LIST), GWL_STYLE) & 0x3,
                  CBS_DROPDOWNLIST);
        SendDlgItemMessageA(dialog, IDC_PORT_LIST, CB_SETCURSEL, 4, 0);
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);  // Escape
    });
    EXPECT_FALSE(front_end.ShowTerminalDialog(choice));
    EXPECT_EQ(choice.PortChoice, 0) << "cancel keeps the choice";
}

TEST_F(Window, ArchivedDataAsksForAFileInTheOutputDirectoryAndShowsIt) {
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    StartUp();
    const std::string data_file = station.Output() + "\\2600101.P01";
    testing_support::WriteFile(data_file, "data");
    const auto directory = std::filesystem::current_path();
    std::string caption;
    bool read_only_box = false;
    AnswerNextModal([&](HWND dialog) {
        caption = TextOf(dialog);
        HWND box = GetDlgItem(dialog, chx1);
        read_only_box = box != nullptr && IsWindowVisible(box);
        // The name typed into the file name field, then Open.
        HWND name = GetDlgItem(dialog, cmb13);
        if (name == nullptr) {
            name = GetDlgItem(dialog, edt1);
        }
        SetWindowTextA(name, "2600101.P01");
        PressButton(dialog, IDOK);
    });
    Command(ID_VIEW_ARCHIVED_DATA);
    EXPECT_EQ(caption, "Open Data File");
    EXPECT_TRUE(read_only_box) << "the read-only check box is shown";
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    ASSERT_EQ(runs[0].size(), 2u);
    EXPECT_EQ(runs[0][0], "v.exe");
    EXPECT_TRUE(std::filesystem::equivalent(runs[0][1], data_file)) << runs[0][1];
    EXPECT_EQ(std::filesystem::current_path(), directory) << "the file dialog left it where it was";
}

TEST_F(Window, AboutBoxShowsTheVersionTheIconAndTheCredits) {
    StartUp();
    std::string caption;
    std::vector<std::string> texts;
    bool icon = false;
    AnswerNextModal([&](HWND dialog) {
        caption = TextOf(dialog);
        for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
             child = GetWindow(child, GW_HWNDNEXT)) {
            char name[32] = {};
            GetClassNameA(child, name, sizeof name);
            if (std::string(name) != "Static") {
                continue;
            }
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
                icon = SendMessageA(child, STM_GETICON, 0, 0) != 0;
            } else {
                texts.push_back(TextOf(child));
            }
        }
        EXPECT_EQ(ButtonCount(dialog), 1);
        PressButton(dialog, IDOK);
    });
    Command(ID_APP_ABOUT);
    EXPECT_EQ(caption, "About Quorvane");
    EXPECT_TRUE(icon);
    ASSERT_FALSE(texts.empty());
    EXPECT_EQ(texts.front(), "Quorvane Version 1.3");
    std::vector<std::string> credits;
    for (const DialogItem& credit : AboutBox().credits) {
        credits.push_back(credit.text);
    }
    EXPECT_EQ(std::vector<std::string>(texts.begin() + 1, texts.end()), credits);
}

// The real program on a refused file: the box, then the editor (and for an
// output directory that cannot be used, the file browser), exit status -1.
struct RefusedRun {
    std::optional<int> status;
    std::string caption;
    std::string text;
    int buttons = 0;
};

RefusedRun RunProgramOnRefusedFile() {
    RefusedRun run;
    const auto program = platform::StartProcess(QUORVANE_PROGRAM, {});
    if (!program) {
        ADD_FAILURE() << "quorvane.exe did not start";
        return run;
    }
    HWND box = nullptr;
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    while (box == nullptr && std::chrono::steady_clock::now() < deadline &&
           !platform::WaitForProcessEnd(*program, 20)) {
        box = FindWindowA("#32770", "Quorvane");
    }
    if (box != nullptr) {
        run.caption = TextOf(box);
        run.text = MessageBoxText(box);
        run.buttons = ButtonCount(box);
        PostMessageA(box, WM_COMMAND, IDOK, 0);
    }
    if (platform::WaitForProcessEnd(*program, 30000)) {
        run.status = platform::ExitStatus(*program);
    } else {
        platform::TerminateProcess(*program);
    }
    platform::ReleaseProcess(*program);
    return run;
}

TEST(RefusedConfiguration, TheBoxThenTheEditorAndStatusMinusOne) {
    Station station;
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    station.WriteIniWithUnevenPeriod();

    const RefusedRun run = RunProgramOnRefusedFile();
    EXPECT_EQ(run.status, std::optional<int>(-1));
    EXPECT_EQ(run.caption, "Quorvane");
    EXPECT_EQ(run.buttons, 1);
    EXPECT_EQ(run.text, testing_support::kUnevenPeriodBox);
    EXPECT_EQ(station.LogCodes(), std::vector<std::string>{"01"});
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    EXPECT_EQ(runs[0], (std::vector<std::string>{"write.exe", "Quorvane.ini"}));
}

TEST(RefusedConfiguration, AnUnusableOutputDirectoryAlsoOpensTheFileBrowser) {
    Station station;
    RecordedPrograms programs(testing_support::ViewerProgramNames());
    std::string ini = station.ValidIni();
    const std::string output = station.Output();
    ini.replace(ini.find(output), output.size(), output + "\\with.dot");
    station.WriteIni(ini);

    const RefusedRun run = RunProgramOnRefusedFile();
    EXPECT_EQ(run.status, std::optional<int>(-1));
    EXPECT_NE(run.text.find("       Please either make changes to Quorvane.ini and\\or\n"
                            "                   check the drive\\path accessibility."),
              std::string::npos)
        << run.text;
    auto runs = programs.WaitForRuns(2);
    std::sort(runs.begin(), runs.end());
    EXPECT_EQ(runs, (std::vector<std::vector<std::string>>{{"explorer.exe"},
                                                           {"write.exe", "Quorvane.ini"}}));
}

}  // namespace
