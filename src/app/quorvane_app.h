// The application object: the start-up in its fixed order, the commands the
// application itself handles, and the end.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/main_frame.h"
#include "app/quorvane_doc.h"
#include "app/quorvane_view.h"

class FrontEnd;

// The first command-line argument exactly as given; nothing when the program
// was started without one. Read by the status view's auto-start test.
extern std::optional<std::string> CommandLineArgument;

class CQuorvaneApp {
public:
    explicit CQuorvaneApp(FrontEnd& front_end);

    // Start-up. `arguments` are the command-line arguments after the program
    // name. True when the main window is up; false when the front end could
    // not create it. A refused configuration ends the process instead.
    bool InitInstance(const std::vector<std::string>& arguments);
    // After the main window is gone: the exit code.
    int ExitInstance();

    // Routes a menu or accelerator command: the view's first, then the
    // application's (About, New, Exit). False when nobody handles it.
    bool OnCommand(int command);
    bool IsCommandEnabled(int command) const;
    void OnAppAbout();
    // New: reloads the configuration; refused while acquisition runs, as the
    // acquisition thread reads the configuration without a lock.
    void OnFileNew();

    CQuorvaneDoc& Document() { return document_; }
    CQuorvaneView& View() { return view_; }
    CMainFrame& Frame() { return frame_; }

private:
    FrontEnd& front_end_;
    CMainFrame frame_;
    CQuorvaneDoc document_;
    CQuorvaneView view_;
};

extern const char kNewWhileRunningMessage[];
