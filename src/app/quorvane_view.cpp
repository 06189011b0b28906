#include "app/quorvane_view.h"

#include <cstdio>
#include <mutex>

#include "acquisition/acquisition_thread.h"
#include "app/front_end.h"
#include "app/quorvane_app.h"
#include "app/resources.h"
#include "app/terminal_dlg.h"
#include "app/viewers.h"
#include "config/com_config.h"
#include "log/log_codes.h"
#include "log/log_file.h"
#include "platform/external_programs.h"
#include "platform/files.h"
#include "platform/service_notify.h"
#include "version/version.h"

const char kTerminalWhileRunningWarning[] =
    "              Warning !!!\n"
    "Data Acquisition must be disabled before\n"
    "    executing the terminal emulator.\n"
    "\n"
    "   Please Stop Data Acquisition first!";

namespace {

std::atomic<bool> g_waiting_for_stop{false};

// A message with one text in it, however long the text (a chosen path).
std::string Format(const char* format, const std::string& value) {
    const int length = std::snprintf(nullptr, 0, format, value.c_str());
    std::string text(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    std::snprintf(text.data(), text.size() + 1, format, value.c_str());
    return text;
}

std::string OutputDirectory() {
    return com.OutputDriveAndPath != nullptr ? std::string(com.OutputDriveAndPath) : std::string();
}

}  // namespace

std::string TerminalArgumentText(int port_number, int position) {
    char text[100];
    std::snprintf(text, sizeof text, " %d %ld %c %d %d", port_number,
                  static_cast<long>(com.Baud[position]), com.Parity[position],
                  static_cast<int>(com.DataBits[position]),
                  static_cast<int>(com.StopBits[position]));
    return text;
}

std::vector<std::string> SplitAtBlanks(const std::string& text) {
    std::vector<std::string> values;
    std::string::size_type start = 0;
    while ((start = text.find_first_not_of(' ', start)) != std::string::npos) {
        const auto end = text.find(' ', start);
        values.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end;
    }
    return values;
}

CQuorvaneView::CQuorvaneView(FrontEnd& front_end) : front_end_(front_end) {
    // Before the window exists; nothing can run yet.
    ActiveAcquisitionThread = nullptr;
}

CQuorvaneView::~CQuorvaneView() = default;

int CQuorvaneView::OnCreate(bool window_created) {
    if (!window_created) {
        return -1;
    }
    ViewDrawingContext.store(&front_end_);
    return 0;
}

void CQuorvaneView::OnDraw(PageCanvas& canvas) {
    if (IsAutoStartArgument(CommandLineArgument) && ActiveAcquisitionThread == nullptr) {
        StartAcquisition(1);
    }
    std::lock_guard<std::mutex> lock(StatusLock);
    DrawStatusPage(canvas, ActiveAcquisitionThread != nullptr);
}

void CQuorvaneView::StartAcquisition(int /*unused*/) {
    // After the shutdown the configuration is gone: nothing may start then.
    if (ActiveAcquisitionThread != nullptr || destroyed_) {
        return;
    }
    // The thread draws its own status; no repaint is asked for here.
    StartAcquisitionThread(this);
}

void CQuorvaneView::StopAcquisition() {
    if (ActiveAcquisitionThread != nullptr) {
        g_waiting_for_stop.store(true);
        StopAcquisitionThread();
        g_waiting_for_stop.store(false);
    }
}

bool IsWaitingForAcquisitionStop() {
    return g_waiting_for_stop.load();
}

bool CQuorvaneView::IsAcquisitionRunning() const {
    return ActiveAcquisitionThread != nullptr;
}

bool CQuorvaneView::IsCommandEnabled(int command) const {
    switch (command) {
        case ID_ACQUISITION_START:
            return !IsAcquisitionRunning();
        case ID_ACQUISITION_STOP:
            return IsAcquisitionRunning();
        default:
            return true;
    }
}

bool CQuorvaneView::OnCommand(int command) {
    switch (command) {
        case ID_ACQUISITION_START:
            StartAcquisition(1);
            return true;
        case ID_ACQUISITION_STOP:
            StopAcquisition();
            return true;
        case ID_VIEW_TERMINAL_DATA:
            OnTerminalData();
            return true;
        case ID_VIEW_LOG_ENTRIES:
            OnLogEntries();
            return true;
        case ID_VIEW_DIAGNOSTIC_STATISTICS:
            OnDiagnosticStatistics();
            return true;
        case ID_VIEW_ARCHIVED_DATA:
            OnArchivedData();
            return true;
        case ID_HELP_OPERATING_INSTRUCTIONS:
            OnOperatingInstructions();
            return true;
        default:
            return false;
    }
}

void CQuorvaneView::OnTerminalData() {
    CTerminalDlg dialog;
    dialog.PortChoice = 0;
    if (!front_end_.ShowTerminalDialog(dialog)) {
        return;
    }
    const int port_number = dialog.PortChoice + 1;
    if (ActiveAcquisitionThread != nullptr) {
        front_end_.ShowMessageBox(kTerminalWhileRunningWarning);
        return;
    }
    int position = 0;
    while (position < com.NumPorts && com.PortNumber[position] != port_number) {
        ++position;
    }
    if (position >= com.NumPorts) {
        char text[100];
        std::snprintf(text, sizeof text, "COM%d is not defined in Quorvane.ini.\n", port_number);
        front_end_.ShowMessageBox(text);
        return;
    }
    // Each value travels as an argument of its own, as the emulator would
    // have split the text at its blanks.
    const std::vector<std::string> values =
        SplitAtBlanks(TerminalArgumentText(port_number, position));
    const std::string device = platform::SerialDevicePath(
        port_number, com.Device != nullptr ? std::string(com.Device[position]) : std::string());
    LaunchViewer(front_end_, platform::SerialTerminalCommand(values, device),
                 "Error spawning Wexlorant.exe.");
}

void CQuorvaneView::OnLogEntries() {
    const std::string directory = OutputDirectory();
    const auto name = FindNewestFile(platform::JoinPath(directory, "*.log"));
    if (!name) {
        front_end_.ShowMessageBox("No LOG files present.");
        return;
    }
    LaunchViewer(front_end_,
                 platform::FileViewerCommand(platform::JoinPath(directory, *name), true),
                 "Error spawning v.exe.");
}

void CQuorvaneView::OnDiagnosticStatistics() {
    const std::string directory = OutputDirectory();
    const auto name = FindNewestFile(platform::JoinPath(directory, "*.sta"));
    if (!name) {
        front_end_.ShowMessageBox("No statistics files present.");
        return;
    }
    LaunchViewer(front_end_,
                 platform::FileViewerCommand(platform::JoinPath(directory, *name), false),
                 "Error spawning v.exe.");
}

void CQuorvaneView::OnArchivedData() {
    const auto path =
        front_end_.ShowFileOpenDialog({"Open Data File", OutputDirectory(), "*.P*", true});
    if (!path) {
        return;
    }
    if (!platform::PathExists(path->c_str())) {
        front_end_.ShowMessageBox(
            Format("The requested data file, %s, does not exist.\n\n", *path));
        return;
    }
    LaunchViewer(front_end_, platform::FileViewerCommand(*path, false), "Error spawning v.exe.");
}

void CQuorvaneView::OnOperatingInstructions() {
    const std::string name = Format("QuorvaneHelpV%s.doc", kProgramVersion);
    const auto path = FindOperatingInstructions(name);
    if (!path) {
        front_end_.ShowMessageBox(Format("Can't find %s.", name));
        return;
    }
    LaunchViewer(front_end_, platform::WordProcessorCommand(*path), "Error spawning WordPad");
}

void CQuorvaneView::OnDestroy() {
    if (destroyed_) {
        return;
    }
    destroyed_ = true;
    platform::NotifyServiceManager("STOPPING=1");
    StopAcquisition();
    ViewDrawingContext.store(nullptr);
    EndViewerProcesses();
    if (!OutputDirectory().empty()) {
        WriteLogMessage(com.OutputDriveAndPath, logmsg::k02Shutdown);
    }
    FreeComConfig(com);
}

void CQuorvaneView::OnStatusDrawn(const std::vector<StatusDraw>& /*block*/) {
    if (FrontEnd* target = ViewDrawingContext.load()) {
        target->InvalidateView();
    }
}
