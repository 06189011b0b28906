// A front end without a toolkit for the shell's tests: it records what the
// shell shows and answers the dialogs as the test has scripted them.
#pragma once

#include <atomic>
#include <optional>
#include <string>
#include <vector>

#include "app/front_end.h"
#include "app/quorvane_view.h"
#include "app/status_page.h"
#include "app/terminal_dlg.h"

namespace testing_support {

struct PageText {
    int x;
    int y;
    std::string text;
    Rgb colour;
};

// Records every text drawn, with the colour in force.
class RecordingCanvas : public PageCanvas {
public:
    void SetTextColor(const Rgb& colour) override { colour_ = colour; }
    void TextOut(int x, int y, const std::string& text) override {
        texts.push_back({x, y, text, colour_});
    }
    // The text drawn at (x, y) last; fails the test when there is none.
    const PageText& At(int x, int y) const;

    std::vector<PageText> texts;

private:
    Rgb colour_{1, 2, 3};  // not a colour of the page: catches a missing SetTextColor
};

class ScriptedFrontEnd : public FrontEnd {
public:
    bool CreateMainWindow(CMainFrame&, CQuorvaneView& view) override {
        view_ = &view;
        return window_can_be_created && view.OnCreate(true) == 0;
    }
    void ShowMainWindow() override { Paint(); }
    void SetMainWindowTitle(const std::string& text) override { title = text; }
    void SetMainWindowIcon(int resource) override { icon = resource; }
    void CloseMainWindow() override { ++close_requests; }

    void ShowMessageBox(const std::string& text) override { messages.push_back(text); }
    std::optional<std::string> ShowFileOpenDialog(const FileOpenRequest& request) override {
        file_requests.push_back(request);
        return file_answer;
    }
    bool ShowTerminalDialog(CTerminalDlg& dialog) override {
        terminal_initial_selections.push_back(dialog.InitialSelection());
        if (!terminal_answer) {
            return false;
        }
        dialog.OnOK(*terminal_answer);
        return true;
    }
    void ShowAboutBox() override { ++about_boxes; }
    void InvalidateView() override { invalidations.fetch_add(1); }

    // A paint of the status view, as the window system would ask for it.
    RecordingCanvas Paint() {
        RecordingCanvas canvas;
        if (view_ != nullptr) {
            view_->OnDraw(canvas);
        }
        paints.push_back(canvas);
        return canvas;
    }

    // Script.
    bool window_can_be_created = true;
    std::optional<std::string> file_answer;
    std::optional<int> terminal_answer;  // nothing: the dialog is cancelled

    // Record.
    std::vector<std::string> messages;
    std::vector<FileOpenRequest> file_requests;
    std::vector<int> terminal_initial_selections;
    std::vector<RecordingCanvas> paints;
    std::string title;
    int icon = 0;
    int about_boxes = 0;
    int close_requests = 0;
    std::atomic<int> invalidations{0};

private:
    CQuorvaneView* view_ = nullptr;
};

}  // namespace testing_support
