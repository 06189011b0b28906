// The Qt 6 front end of the shell: it creates the main window and shows the
// boxes and dialogs that the shell asks for.
#pragma once

#include <memory>

#include "app/front_end.h"

class CQuorvaneApp;
class MainWindow;
class QWidget;

class QtFrontEnd : public FrontEnd {
public:
    QtFrontEnd();
    ~QtFrontEnd() override;

    // The application whose commands the window carries out; set before its
    // InitInstance.
    void SetApplication(CQuorvaneApp& app) { app_ = &app; }
    MainWindow* Window() const { return window_.get(); }

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
    QWidget* DialogParent() const;

    CQuorvaneApp* app_ = nullptr;
    std::unique_ptr<MainWindow> window_;
};

// Shows an operator message (from any thread) in a modal box; installed with
// SetOperatorMessageHandler.
void ShowOperatorMessageInWindow(const std::string& text);
