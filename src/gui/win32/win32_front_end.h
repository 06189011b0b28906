// The Win32 front end of the shell: the main frame with the menu, the
// accelerators and the status bar of the resource script, the status view
// painted with GDI, and the modal windows the shell asks for.
#pragma once

#include <windows.h>
// windows.h names its text function TextOut as a macro; the page canvas has a
// member of that name.
#undef TextOut

#include <atomic>
#include <optional>
#include <string>

#include "app/front_end.h"

class CQuorvaneApp;

class Win32FrontEnd : public FrontEnd {
public:
    // `show_command` is how WinMain was asked to show the window.
    explicit Win32FrontEnd(HINSTANCE instance, int show_command = SW_SHOWNORMAL);
    ~Win32FrontEnd() override;
    Win32FrontEnd(const Win32FrontEnd&) = delete;
    Win32FrontEnd& operator=(const Win32FrontEnd&) = delete;

    // The application whose commands the window carries out; set before its
    // InitInstance.
    void SetApplication(CQuorvaneApp& app) { app_ = &app; }

    HWND Frame() const { return frame_; }
    HWND StatusBar() const { return status_bar_; }
    HWND View() const { return view_.load(); }

    // One message of the thread's loop: the accelerators, then the window.
    void ProcessMessage(MSG& message);
    // The loop, until the main window has gone; the WM_QUIT code.
    int RunMessageLoop();

    bool CreateMainWindow(CMainFrame& frame, CQuorvaneView& view) override;
    void ShowMainWindow() override;
    void SetMainWindowTitle(const std::string& title) override;
    void SetMainWindowIcon(int resource) override;
    void CloseMainWindow() override;
    void ShowMessageBox(const std::string& text) override;
    std::optional<std::string> ShowFileOpenDialog(const FileOpenRequest& request) override;
    bool ShowTerminalDialog(CTerminalDlg& dialog) override;
    void ShowAboutBox() override;
    void InvalidateView() override;

private:
    static LRESULT CALLBACK FrameProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnFrameMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    LRESULT OnViewMessage(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

    int OnFrameCreate(HWND window);
    void LayOut();
    void EnableCommands(HMENU popup);
    void OnMenuSelect(UINT item, UINT flags, HMENU menu);
    void ShowPrompt(std::optional<int> command);
    void RefreshLockKeys();
    void PaintView(HWND window);
    // The owner of a modal window: the main frame once it is visible.
    HWND DialogOwner() const;

    HINSTANCE instance_;
    int show_command_;
    CQuorvaneApp* app_ = nullptr;
    HWND frame_ = nullptr;
    HWND status_bar_ = nullptr;
    // Read by the acquisition thread, which asks for repaints.
    std::atomic<HWND> view_{nullptr};
    HACCEL accelerators_ = nullptr;
    HICON small_icon_ = nullptr;
    bool view_created_ = false;
    bool shut_down_ = false;
};

// Shows an operator message (from any thread) in a modal box; installed with
// SetOperatorMessageHandler.
void ShowOperatorMessageInWindow(const std::string& text);
