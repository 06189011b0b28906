#include "cli/run_command.h"

#include <array>
#include <memory>
#include <mutex>
#include <string>

#include "acquisition/acquisition_thread.h"
#include "acquisition/data_files.h"
#include "acquisition/rescue.h"
#include "acquisition/status.h"
#include "cli/cli11.h"
#include "cli/command_line.h"
#include "cli/lint.h"
#include "config/com_config.h"
#include "config/ini_reader.h"
#include "log/log_codes.h"
#include "log/write_problems.h"
#include "platform/service_notify.h"
#include "platform/stop_requests.h"
#include "station/station_session.h"

namespace {

// Longer than any run would be, short enough to count in milliseconds.
constexpr double kLongestRunSeconds = 1e9;

// Prints a status text as "label value" whenever its value changes; the
// blanks that paint over longer values on a page mean nothing on a terminal.
class StatusPrinter final : public StatusObserver {
public:
    explicit StatusPrinter(std::FILE* out) : out_(out) {}

    void OnStatusDrawn(const std::vector<StatusDraw>& block) override {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const StatusDraw& draw : block) {
            std::string value = draw.text;
            value.erase(value.find_last_not_of(' ') + 1);
            std::string& shown = shown_[static_cast<size_t>(draw.index)];
            if (value == shown) {
                continue;
            }
            shown = value;
            std::fprintf(out_, "%s %s\n", StatusLineOf(draw.index).label, value.c_str());
        }
        std::fflush(out_);
    }

private:
    std::FILE* out_;
    std::mutex mutex_;
    std::array<std::string, kStatusCount> shown_;
};

// The refused configuration, in the words the window would show.
void ReportConfigurationError() {
    std::string message = "Quorvane Initialization Error ... \n\n";
    message += com.ErrorString != nullptr ? com.ErrorString : "";
    message += "\n";
    if (com.ErrorCode == -11) {
        message += "       Please either make changes to Quorvane.ini and\\or\n";
        message += "                   check the drive\\path accessibility.";
    } else {
        message += "Please make changes to Quorvane.ini and restart Quorvane.";
    }
    std::fprintf(stderr, "%s\n", message.c_str());
}

// The first line of a message, for a service manager's one-line status.
std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find('\n'));
}

// A log, data or statistics file that cannot be written is told on standard
// error at once (the status page lists it too, and the log when it can).
void PrintWriteProblem(const std::string& problem) {
    std::fprintf(stderr, "quorvane-cli run: %s\n", problem.c_str());
    std::fflush(stderr);
}

// Installs PrintWriteProblem for the whole run, from its first log entry: a
// log that cannot be written fails first with entry 00, and the failure is
// told only once.
struct WriteProblemsOnStandardError {
    WriteProblemsOnStandardError() { SetWriteProblemHandler(PrintWriteProblem); }
    ~WriteProblemsOnStandardError() { SetWriteProblemHandler(nullptr); }
    WriteProblemsOnStandardError(const WriteProblemsOnStandardError&) = delete;
    WriteProblemsOnStandardError& operator=(const WriteProblemsOnStandardError&) = delete;
};

// What `check` warns of is told at every start too: a refused file is often
// explained by a slip, and an accepted one is run, but perhaps not as the
// operator meant it.
void TellConfigurationWarnings() {
    for (const LintWarning& warning : LintConfigurationFile("Quorvane.ini")) {
        std::fprintf(stderr, "quorvane-cli run: warning: Quorvane.ini:%d: %s\n", warning.line,
                     warning.text.c_str());
    }
}

}  // namespace

int RunHeadless(std::optional<std::chrono::milliseconds> duration, std::FILE* out) {
    const WriteProblemsOnStandardError told;
    ResetStatusTexts();
    com = ReadQuorInitializationFile("Quorvane.ini");
    if (com.ErrorCode != 0) {
        LogToOutputDirectory(com, logmsg::k01StartupError);
        ReportConfigurationError();
        TellConfigurationWarnings();  // a slip often explains the refusal
        platform::NotifyServiceManager(
            "STATUS=Quorvane.ini refused: " +
            FirstLine(com.ErrorString != nullptr ? com.ErrorString : "out of memory"));
        FreeComConfig(com);
        return kExitConfigurationRefused;
    }
    // Nothing is logged into a directory that another logger writes to.
    StationSession station;
    std::string message;
    if (const StationClaim claim = station.Claim(com, message);
        claim != StationClaim::kClaimed) {
        std::fprintf(stderr, "quorvane-cli run: %s", message.c_str());
        platform::NotifyServiceManager("STATUS=" + FirstLine(message));
        FreeComConfig(com);
        return ExitStatusOf(claim);
    }
    LogToOutputDirectory(com, logmsg::k00StartupOk);
    TellConfigurationWarnings();
    const int64_t given_up_before = ReceivedBytesGivenUp();
    const int64_t rescued_before = ReceivedBytesRescued();
    // Text that can be written nowhere else is kept rather than discarded.
    const std::string rescue_directory = DefaultRescueDirectory();
    SetRescueDirectory(rescue_directory);

    platform::StopRequests stop_requests;  // before the acquisition thread exists
    StatusPrinter printer(out);
    StartAcquisitionThread(&printer);
    stop_requests.Wait(duration);
    platform::NotifyServiceManager("STOPPING=1");
    StopAcquisitionThread();  // final flush, entry 04
    SetRescueDirectory({});
    LogToOutputDirectory(com, logmsg::k02Shutdown);
    station.Close();
    FreeComConfig(com);
    // Text given up is never a success, even when the log that counts it
    // could not be written.
    if (const int64_t lost = ReceivedBytesGivenUp() - given_up_before; lost > 0) {
        std::fprintf(stderr,
                     "quorvane-cli run: %lld bytes of received text could not be kept (see the "
                     "lines above)\n",
                     static_cast<long long>(lost));
        return kExitTextLost;
    }
    // Kept, but not where the archive is: the operator has to move it there.
    if (const int64_t rescued = ReceivedBytesRescued() - rescued_before; rescued > 0) {
        std::fprintf(stderr,
                     "quorvane-cli run: %lld bytes of received text are not in the data files but "
                     "in %s (see the lines above)\n",
                     static_cast<long long>(rescued), rescue_directory.c_str());
        return kExitTextLost;
    }
    return 0;
}

void AddRunCommand(CLI::App& app, int& exit_status) {
    CLI::App* run = app.add_subcommand(
        "run", "Run the logger without a window in the current directory (reads Quorvane.ini)");
    auto seconds = std::make_shared<double>(-1.0);
    run->add_option("--for", *seconds,
                    "Stop after SECONDS (default: run until SIGINT, SIGTERM or SIGHUP)")
        ->type_name("SECONDS")
        ->check(CLI::Validator(
            [](std::string& text) { return CheckSeconds(text, kLongestRunSeconds); }, "SECONDS"));
    run->callback([&exit_status, seconds] {
        std::optional<std::chrono::milliseconds> duration;
        if (*seconds >= 0) {
            duration = std::chrono::milliseconds(static_cast<int64_t>(*seconds * 1000.0));
        }
        exit_status = RunHeadless(duration, stdout);
    });
}
