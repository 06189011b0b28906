#include "app/quorvane_app.h"

#include "acquisition/rescue.h"
#include "app/front_end.h"
#include "app/resources.h"

std::optional<std::string> CommandLineArgument;

const char kNewWhileRunningMessage[] =
    "Data Acquisition must be disabled before\n"
    "Quorvane.ini can be read again.\n"
    "\n"
    "Please Stop Data Acquisition first!";

CQuorvaneApp::CQuorvaneApp(FrontEnd& front_end)
    : front_end_(front_end), document_(front_end), view_(front_end) {}

bool CQuorvaneApp::InitInstance(const std::vector<std::string>& arguments) {
    // StatusLock is a static object: it exists before any window and goes
    // after everything else. The toolkit keeps no settings of ours.
    const std::string title = kMainWindowTitle;
    if (arguments.empty()) {
        CommandLineArgument.reset();
    } else {
        CommandLineArgument = arguments.front();
    }
    // Text that can be written nowhere else is kept rather than discarded.
    SetRescueDirectory(DefaultRescueDirectory());
    // The one document: its window first (hidden), then its contents.
    if (!front_end_.CreateMainWindow(frame_, view_)) {
        return false;
    }
    if (!document_.OnNewDocument()) {
        return false;
    }
    front_end_.ShowMainWindow();  // the first paint makes the "/AUTO" start
    front_end_.SetMainWindowTitle(title);
    front_end_.SetMainWindowIcon(IDR_MAINFRAME);
    return true;
}

int CQuorvaneApp::ExitInstance() {
    return 0;
}

bool CQuorvaneApp::OnCommand(int command) {
    if (view_.OnCommand(command)) {
        return true;
    }
    switch (command) {
        case ID_APP_ABOUT:
            OnAppAbout();
            return true;
        case ID_FILE_NEW:
            OnFileNew();
            return true;
        case ID_APP_EXIT:
            front_end_.CloseMainWindow();
            return true;
        default:
            return false;
    }
}

bool CQuorvaneApp::IsCommandEnabled(int command) const {
    return view_.IsCommandEnabled(command);
}

void CQuorvaneApp::OnAppAbout() {
    front_end_.ShowAboutBox();
}

void CQuorvaneApp::OnFileNew() {
    if (view_.IsAcquisitionRunning()) {
        front_end_.ShowMessageBox(kNewWhileRunningMessage);
        return;
    }
    document_.OnNewDocument();
    front_end_.InvalidateView();  // the texts are back to "Disabled" and "None"
}
