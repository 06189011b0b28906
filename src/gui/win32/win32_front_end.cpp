#include "gui/win32/win32_front_end.h"

#include <commctrl.h>

#include <memory>
#include <vector>

#include "app/main_frame.h"
#include "app/quorvane_app.h"
#include "app/quorvane_view.h"
#include "app/resources.h"
#include "gui/win32/dialogs.h"
#include "gui/win32/gdi_page_canvas.h"

namespace {

constexpr char kFrameClass[] = "QuorvaneFrame";
constexpr char kViewClass[] = "QuorvaneView";
// The view fills the frame's client area above the status bar.
constexpr int kViewId = 59648;
// An operator message that another thread hands to the window's thread.
constexpr UINT kOperatorMessage = WM_APP + 1;

// The main frame, for the operator messages of other threads.
std::atomic<HWND> g_main_frame{nullptr};

void RegisterWindowClasses(HINSTANCE instance, WNDPROC frame_proc, WNDPROC view_proc) {
    WNDCLASSEXA existing{};
    existing.cbSize = sizeof existing;
    if (GetClassInfoExA(instance, kFrameClass, &existing)) {
        return;
    }
    WNDCLASSEXA frame{};
    frame.cbSize = sizeof frame;
    frame.lpfnWndProc = frame_proc;
    frame.hInstance = instance;
    frame.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDR_MAINFRAME));
    frame.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    frame.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    frame.lpszClassName = kFrameClass;
    RegisterClassExA(&frame);

    WNDCLASSEXA view{};
    view.cbSize = sizeof view;
    view.style = CS_HREDRAW | CS_VREDRAW;
    view.lpfnWndProc = view_proc;
    view.hInstance = instance;
    view.hCursor = frame.hCursor;
    view.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    view.lpszClassName = kViewClass;
    RegisterClassExA(&view);
}

// What the creating call handed to the window, kept with it from then on.
Win32FrontEnd* FrontEndOf(HWND window, UINT message, LPARAM lparam) {
    if (message == WM_NCCREATE) {
        auto* creation = reinterpret_cast<CREATESTRUCTA*>(lparam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(creation->lpCreateParams));
    }
    return reinterpret_cast<Win32FrontEnd*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

// A message waiting for the window's thread, and whether somebody has taken
// it to show.
struct OperatorRequest {
    std::string text;
    std::atomic<bool> taken{false};
    HANDLE answered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ~OperatorRequest() { CloseHandle(answered); }
};

}  // namespace

Win32FrontEnd::Win32FrontEnd(HINSTANCE instance, int show_command)
    : instance_(instance), show_command_(show_command) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
}

Win32FrontEnd::~Win32FrontEnd() {
    if (frame_ != nullptr) {
        DestroyWindow(frame_);
    }
    if (small_icon_ != nullptr) {
        DestroyIcon(small_icon_);
    }
}

void Win32FrontEnd::ProcessMessage(MSG& message) {
    if (frame_ != nullptr && accelerators_ != nullptr &&
        TranslateAcceleratorA(frame_, accelerators_, &message)) {
        return;
    }
    TranslateMessage(&message);
    DispatchMessageA(&message);
}

int Win32FrontEnd::RunMessageLoop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        ProcessMessage(message);
    }
    return static_cast<int>(message.wParam);
}

bool Win32FrontEnd::CreateMainWindow(CMainFrame&, CQuorvaneView&) {
    if (app_ == nullptr) {
        return false;
    }
    RegisterWindowClasses(instance_, FrameProc, ViewProc);
    const WindowGeometry geometry = CMainFrame::InitialGeometry(GetSystemMetrics(SM_CXMAXIMIZED));
    accelerators_ = LoadAcceleratorsA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME));
    HMENU menu = LoadMenuA(instance_, MAKEINTRESOURCEA(IDR_MAINFRAME));
    frame_ = CreateWindowExA(0, kFrameClass, kApplicationTitle, WS_OVERLAPPEDWINDOW, geometry.x,
                             geometry.y, geometry.width, geometry.height, nullptr, menu, instance_,
                             this);
    if (frame_ == nullptr) {
        return false;
    }
    g_main_frame.store(frame_);
    return true;
}

void Win32FrontEnd::ShowMainWindow() {
    ShowWindow(frame_, show_command_);
    UpdateWindow(frame_);
    // The first paint happens now, whatever the window system does: it makes
    // the "/AUTO" start of the view.
    InvalidateRect(View(), nullptr, TRUE);
    UpdateWindow(View());
}

void Win32FrontEnd::SetMainWindowTitle(const std::string& title) {
    SetWindowTextA(frame_, title.c_str());
}

void Win32FrontEnd::SetMainWindowIcon(int resource) {
    if (small_icon_ == nullptr) {
        small_icon_ = static_cast<HICON>(LoadImageA(
            instance_, MAKEINTRESOURCEA(resource), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
            GetSystemMetrics(SM_CYSMICON), LR_DEFAULTCOLOR));
    }
    SendMessageA(frame_, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small_icon_));
}

void Win32FrontEnd::CloseMainWindow() {
    if (frame_ != nullptr) {
        SendMessageA(frame_, WM_CLOSE, 0, 0);
    }
}

HWND Win32FrontEnd::DialogOwner() const {
    return frame_ != nullptr && IsWindowVisible(frame_) ? frame_ : nullptr;
}

void Win32FrontEnd::ShowMessageBox(const std::string& text) {
    ShowQuorvaneMessageBox(DialogOwner(), text);
}

std::optional<std::string> Win32FrontEnd::ShowFileOpenDialog(const FileOpenRequest& request) {
    return RunFileOpenDialog(DialogOwner(), request);
}

bool Win32FrontEnd::ShowTerminalDialog(CTerminalDlg& dialog) {
    return RunTerminalDialog(instance_, DialogOwner(), dialog);
}

void Win32FrontEnd::ShowAboutBox() {
    RunAboutBox(instance_, DialogOwner());
}

void Win32FrontEnd::InvalidateView() {
    // Only marks the page for a paint by the window's own thread; it never
    // waits for that thread, which may be waiting for acquisition to stop.
    if (HWND view = View()) {
        InvalidateRect(view, nullptr, FALSE);
    }
}

LRESULT CALLBACK Win32FrontEnd::FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Win32FrontEnd* self = FrontEndOf(window, message, lparam);
    if (self == nullptr) {
        return DefWindowProcA(window, message, wparam, lparam);
    }
    return self->OnFrameMessage(window, message, wparam, lparam);
}

LRESULT CALLBACK Win32FrontEnd::ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    Win32FrontEnd* self = FrontEndOf(window, message, lparam);
    if (self == nullptr) {
        return DefWindowProcA(window, message, wparam, lparam);
    }
    return self->OnViewMessage(window, message, wparam, lparam);
}

LRESULT Win32FrontEnd::OnFrameMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            return OnFrameCreate(window);
        case WM_SIZE:
            LayOut();
            return 0;
        case WM_SETFOCUS:
            SetFocus(View());
            return 0;
        case WM_ACTIVATE:
        case WM_KEYDOWN:
        case WM_KEYUP:
            RefreshLockKeys();
            break;
        case WM_COMMAND:
            if (app_->OnCommand(LOWORD(wparam))) {
                return 0;
            }
            break;
        case WM_INITMENUPOPUP:
            if (HIWORD(lparam) == 0) {  // not the system menu
                EnableCommands(reinterpret_cast<HMENU>(wparam));
            }
            return 0;
        case WM_MENUSELECT:
            OnMenuSelect(LOWORD(wparam), HIWORD(wparam), reinterpret_cast<HMENU>(lparam));
            return 0;
        case WM_EXITMENULOOP:
            ShowPrompt(std::nullopt);
            return 0;
        case kOperatorMessage: {
            std::unique_ptr<std::shared_ptr<OperatorRequest>> request(
                reinterpret_cast<std::shared_ptr<OperatorRequest>*>(lparam));
            if (!(*request)->taken.exchange(true)) {
                ShowQuorvaneMessageBox(DialogOwner(), (*request)->text);
                SetEvent((*request)->answered);
            }
            return 0;
        }
        case WM_ENDSESSION:
            // Windows is ending: close as the close box does, so the period's
            // data is written before the process goes.
            if (wparam != FALSE) {
                DestroyWindow(window);
            }
            return 0;
        case WM_CLOSE:
            // Never refused, never asks.
            DestroyWindow(window);
            return 0;
        case WM_DESTROY:
            if (view_created_) {
                PostQuitMessage(0);
            }
            return 0;
        case WM_NCDESTROY:
            g_main_frame.store(nullptr);
            frame_ = nullptr;
            status_bar_ = nullptr;
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int Win32FrontEnd::OnFrameCreate(HWND window) {
    frame_ = window;
    status_bar_ = CreateWindowExA(
        0, STATUSCLASSNAMEA, "", WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
        reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDW_STATUS_BAR)), instance_, nullptr);
    if (CMainFrame::OnCreate(true, status_bar_ != nullptr) != 0) {
        return -1;
    }
    HWND view =
        CreateWindowExA(WS_EX_CLIENTEDGE, kViewClass, "", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, window,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(kViewId)), instance_, this);
    if (view == nullptr) {
        return -1;
    }
    LayOut();
    ShowPrompt(std::nullopt);
    RefreshLockKeys();
    return 0;
}

void Win32FrontEnd::LayOut() {
    if (status_bar_ == nullptr || frame_ == nullptr) {
        return;
    }
    SendMessageA(status_bar_, WM_SIZE, 0, 0);
    RECT client;
    GetClientRect(frame_, &client);
    RECT bar;
    GetWindowRect(status_bar_, &bar);

    // The indicator panes are as wide as their longest text; the message
    // pane takes the rest.
    const std::vector<int>& indicators = CMainFrame::StatusBarIndicators();
    HDC context = GetDC(status_bar_);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(status_bar_, WM_GETFONT, 0, 0));
    const HGDIOBJ previous =
        SelectObject(context, font != nullptr ? font : GetStockObject(DEFAULT_GUI_FONT));
    SIZE text{};
    GetTextExtentPoint32A(context, "SCRL", 4, &text);
    SelectObject(context, previous);
    ReleaseDC(status_bar_, context);
    const int pane_width = text.cx + 12;
    std::vector<int> edges(indicators.size());
    for (std::size_t i = 0; i + 1 < edges.size(); ++i) {
        edges[i] = client.right - static_cast<int>(edges.size() - 1 - i) * pane_width;
    }
    edges.back() = -1;
    SendMessageA(status_bar_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));

    if (HWND view = View()) {
        MoveWindow(view, 0, 0, client.right, client.bottom - (bar.bottom - bar.top), TRUE);
    }
}

void Win32FrontEnd::EnableCommands(HMENU popup) {
    const int count = GetMenuItemCount(popup);
    for (int position = 0; position < count; ++position) {
        const UINT command = GetMenuItemID(popup, position);
        if (command == static_cast<UINT>(-1)) {
            continue;
        }
        const bool enabled = app_->IsCommandEnabled(static_cast<int>(command));
        EnableMenuItem(popup, static_cast<UINT>(position),
                       MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
    }
}

void Win32FrontEnd::OnMenuSelect(UINT item, UINT flags, HMENU menu) {
    const bool closed = flags == 0xFFFF && menu == nullptr;
    if (closed || (flags & (MF_POPUP | MF_SEPARATOR | MF_SYSMENU)) != 0) {
        ShowPrompt(std::nullopt);
        return;
    }
    ShowPrompt(static_cast<int>(item));
}

void Win32FrontEnd::ShowPrompt(std::optional<int> command) {
    const std::string text = CMainFrame::MessagePaneText(command);
    SendMessageA(status_bar_, SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void Win32FrontEnd::RefreshLockKeys() {
    if (status_bar_ == nullptr) {
        return;
    }
    LockKeyState keys;
    keys.caps = (GetKeyState(VK_CAPITAL) & 1) != 0;
    keys.num = (GetKeyState(VK_NUMLOCK) & 1) != 0;
    keys.scroll = (GetKeyState(VK_SCROLL) & 1) != 0;
    const std::vector<int>& indicators = CMainFrame::StatusBarIndicators();
    for (std::size_t pane = 1; pane < indicators.size(); ++pane) {
        const std::string text = CMainFrame::IndicatorText(indicators[pane], keys);
        SendMessageA(status_bar_, SB_SETTEXTA, pane, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

LRESULT Win32FrontEnd::OnViewMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
        case WM_CREATE:
            view_.store(window);
            if (app_->View().OnCreate(true) != 0) {
                view_.store(nullptr);
                return -1;
            }
            view_created_ = true;
            return 0;
        case WM_PAINT:
            PaintView(window);
            return 0;
        case WM_KEYDOWN:
        case WM_KEYUP:
            RefreshLockKeys();
            break;
        case WM_DESTROY:
            // Closing the frame: the shutdown, which waits for acquisition's
            // final flush.
            if (view_created_ && !shut_down_) {
                shut_down_ = true;
                app_->View().OnDestroy();
            }
            view_.store(nullptr);
            return 0;
        default:
            break;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

void Win32FrontEnd::PaintView(HWND window) {
    PAINTSTRUCT paint;
    HDC context = BeginPaint(window, &paint);
    PaintStatusPage(app_->View(), context);
    EndPaint(window, &paint);
}

void ShowOperatorMessageInWindow(const std::string& text) {
    HWND frame = g_main_frame.load();
    if (frame == nullptr || GetWindowThreadProcessId(frame, nullptr) == GetCurrentThreadId()) {
        ShowQuorvaneMessageBox(frame != nullptr && IsWindowVisible(frame) ? frame : nullptr, text);
        return;
    }
    // From another thread: the box is shown by the window's thread and this
    // thread waits for OK, unless the window's thread is waiting for
    // acquisition to stop; then this thread shows the box itself.
    auto request = std::make_shared<OperatorRequest>();
    request->text = text;
    auto* posted = new std::shared_ptr<OperatorRequest>(request);
    if (!PostMessageA(frame, kOperatorMessage, 0, reinterpret_cast<LPARAM>(posted))) {
        delete posted;
        ShowQuorvaneMessageBox(nullptr, text);
        return;
    }
    while (WaitForSingleObject(request->answered, 100) != WAIT_OBJECT_0) {
        if (IsWaitingForAcquisitionStop() && !request->taken.exchange(true)) {
            ShowQuorvaneMessageBox(nullptr, text);
            return;
        }
    }
}
