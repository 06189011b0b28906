#include "app/quorvane_doc.h"

#include "acquisition/status.h"
#include "app/front_end.h"
#include "app/viewers.h"
#include "config/com_config.h"
#include "config/ini_reader.h"
#include "log/log_codes.h"
#include "platform/external_programs.h"
#include "platform/process.h"
#include "station/station_session.h"

namespace {

constexpr int32_t kDirectoryNotWritable = -11;

// Starts a program that is meant to outlive the logger: it is not recorded.
// Windows passes a failure over in silence; elsewhere the operator is told
// which program was missing, or the configuration could not be mended from
// the window at all.
void StartUnrecorded(FrontEnd& front_end, const platform::CommandLine& command) {
    if (const auto process = platform::StartProcess(command.program, command.arguments)) {
        platform::ReleaseProcess(*process);
        return;
    }
    const std::string text = platform::SpawnFailureText(command, "");
    if (!text.empty()) {
        front_end.ShowMessageBox(text);
    }
}

}  // namespace

std::string InitializationAdvice(int32_t code) {
    if (code == kDirectoryNotWritable) {
        return std::string(7, ' ') + "Please either make changes to Quorvane.ini and\\or\n" +
               std::string(19, ' ') + "check the drive\\path accessibility.";
    }
    return "Please make changes to Quorvane.ini and restart Quorvane.";
}

std::string InitializationErrorMessage(int32_t code, const std::string& error_string) {
    return "Quorvane Initialization Error ... \n\n" + error_string + "\n" +
           InitializationAdvice(code);
}

bool CQuorvaneDoc::OnNewDocument() {
    ResetStatusTexts();
    ForgetViewerProcesses();
    // The previous record's arrays go before the new record replaces them.
    FreeComConfig(com);
    com = ReadQuorInitializationFile(kInitializationFileName);
    if (com.ErrorCode == 0) {
        // Nothing is logged into a directory that another logger writes to.
        std::string message;
        const StationClaim claim = station_.Claim(com, message);
        if (claim != StationClaim::kClaimed) {
            front_end_.ShowMessageBox(message);
            platform::ExitProcess(ExitStatusOf(claim));
        }
        LogToOutputDirectory(com, logmsg::k00StartupOk);
        return true;
    }
    LogToOutputDirectory(com, logmsg::k01StartupError);
    front_end_.ShowMessageBox(InitializationErrorMessage(
        com.ErrorCode, com.ErrorString != nullptr ? com.ErrorString : ""));
    StartUnrecorded(front_end_, platform::TextEditorCommand(kInitializationFileName));
    if (com.ErrorCode == kDirectoryNotWritable) {
        StartUnrecorded(front_end_, platform::FileBrowserCommand(
            com.OutputDriveAndPath != nullptr ? com.OutputDriveAndPath : ""));
    }
    platform::ExitProcess(-1);
}
