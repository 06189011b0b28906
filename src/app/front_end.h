// What the application shell asks of a toolkit front end. The shell decides
// what is shown and what happens; the front end only shows windows, boxes and
// dialogs, and tells the shell about the operator's actions.
#pragma once

#include <optional>
#include <string>

class CMainFrame;
class CQuorvaneView;
class CTerminalDlg;

// The system's file-open dialog, as the Archived Data command asks for it.
struct FileOpenRequest {
    std::string caption;
    std::string initial_directory;
    std::string initial_file_name;  // may hold wildcards, which filter the list
    bool show_read_only_box;
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;

    // Start-up: creates the main window with its status view, not yet shown.
    // False when the toolkit could not create them.
    virtual bool CreateMainWindow(CMainFrame& frame, CQuorvaneView& view) = 0;
    // Shows the main window and paints it at once.
    virtual void ShowMainWindow() = 0;
    virtual void SetMainWindowTitle(const std::string& title) = 0;
    virtual void SetMainWindowIcon(int resource) = 0;
    // Closes the main window as its close box does.
    virtual void CloseMainWindow() = 0;

    // A modal box with the text, one OK button, captioned with the
    // application title. Returns once OK is pressed.
    virtual void ShowMessageBox(const std::string& text) = 0;
    // The file-open dialog: the chosen file's full path, nothing when cancelled.
    virtual std::optional<std::string> ShowFileOpenDialog(const FileOpenRequest& request) = 0;
    // The Terminal Data dialog, modal. True when it was closed with OK.
    virtual bool ShowTerminalDialog(CTerminalDlg& dialog) = 0;
    // The About box, modal.
    virtual void ShowAboutBox() = 0;

    // Schedules a repaint of the status view. Called from any thread; never
    // blocks and never paints on the calling thread.
    virtual void InvalidateView() = 0;
};
