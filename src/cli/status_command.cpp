#include "cli/status_command.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

#include "cli/cli11.h"
#include "config/ini_reader.h"
#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "station/station_session.h"
#include "station/station_status.h"

namespace {

constexpr int kLabelColumns = 24;

bool ReadWholeFile(const std::string& path, std::string& text) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream content;
    content << file.rdbuf();
    text = content.str();
    return true;
}

// On Windows the name can be missing for a moment while the logger moves a
// new file onto it: a few tries before the file counts as unreadable.
bool ReadStatusFile(const std::string& path, std::string& text, StationStatus& status) {
    constexpr int kTries = 3;
    for (int attempt = 0; attempt < kTries; ++attempt) {
        if (ReadWholeFile(path, text) && ParseStatusFile(text, status)) {
            return true;
        }
    }
    return false;
}

std::string UtcText(int64_t seconds) {
    const std::tm t = platform::BreakDownUtc(seconds);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d UTC", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

bool AnyProblem(const StationStatus& status) {
    return status.publishing_problem ||
           std::any_of(status.lines.begin(), status.lines.end(),
                       [](const StationStatus::Line& line) { return line.state == "problem"; });
}

void PrintPage(const StationStatus& status, std::ostream& out) {
    for (const StationStatus::Line& line : status.lines) {
        std::string label = line.label;
        label.resize(std::max<size_t>(label.size() + 1, kLabelColumns), ' ');
        out << label << line.text;
        if (line.state == "problem") {
            out << "  (!)";
        }
        out << '\n';
    }
    // Why the ports of the error line did not open, in the log's words.
    for (const std::string& failure : status.port_failures) {
        out << "  " << failure << '\n';
    }
    if (!status.publishing.empty()) {
        std::string label = "Publishing:";
        label.resize(kLabelColumns, ' ');
        out << label << status.publishing << (status.publishing_problem ? "  (!)" : "") << '\n';
    }
}

}  // namespace

std::string StatusDirectoryOf(const std::optional<std::string>& given) {
    const std::string base = given ? *given : std::filesystem::current_path().string();
    if (platform::PathExists(platform::JoinPath(base, kLockFileName).c_str()) ||
        platform::PathExists(platform::JoinPath(base, kStatusFileName).c_str())) {
        return base;
    }
    const std::string ini = platform::JoinPath(base, "Quorvane.ini");
    if (!platform::PathExists(ini.c_str())) {
        return base;
    }
    // The reader copies the directory before it tests it, so a directory
    // that this user may not write (the service's) is still named.
    ComConfig config = ReadQuorInitializationFile(ini.c_str());
    std::string directory = base;
    if (config.OutputDriveAndPath != nullptr && config.OutputDriveAndPath[0] != '\0') {
        directory = config.OutputDriveAndPath;
    }
    FreeComConfig(config);
    return directory;
}

int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err) {
    const std::string directory = StatusDirectoryOf(options.directory);
    if (std::error_code ec; !std::filesystem::is_directory(directory, ec)) {
        // A mistyped path is told as such, not as a station without a logger.
        err << "quorvane-cli status: there is no directory " << directory << "\n";
        return kStatusExitNotRunning;
    }
    const std::string lock_file = platform::JoinPath(directory, kLockFileName);
    const platform::LockState lock = platform::ProbeFileLock(lock_file);
    if (lock == platform::LockState::kUnknown) {
        err << "quorvane-cli status: the lock file " << lock_file << " cannot be tested\n";
        return kStatusExitUnknown;
    }
    const bool running = lock == platform::LockState::kHeld;

    std::string text;
    StationStatus status;
    const bool readable =
        ReadStatusFile(platform::JoinPath(directory, kStatusFileName), text, status);
    if (!running) {
        out << "No Quorvane logger runs in " << directory << ".\n";
        if (readable && !options.json) {
            out << "Its last status page, of " << UtcText(status.changed) << ":\n\n";
            PrintPage(status, out);
        }
        return kStatusExitNotRunning;
    }
    if (!readable) {
        const int64_t holder = LockHolderOf(lock_file);
        err << "quorvane-cli status: a Quorvane logger";
        if (holder > 0) {
            err << " (process " << holder << ")";
        }
        err << " runs in " << directory << ", but its status file cannot be read\n";
        return kStatusExitUnknown;
    }
    const int exit_status = AnyProblem(status) ? kStatusExitProblem : 0;
    if (options.json) {
        out << text;
        return exit_status;
    }
    out << "A Quorvane logger runs in " << directory << " (process " << status.process
        << "). Its status page, of " << UtcText(status.changed) << ":\n\n";
    PrintPage(status, out);
    return exit_status;
}

void AddStatusCommand(CLI::App& app, int& exit_status) {
    auto options = std::make_shared<StatusOptions>();
    auto directory = std::make_shared<std::string>();
    CLI::App* status = app.add_subcommand(
        "status", "Show the status page of the logger that runs in an output directory");
    status->add_flag("--json", options->json, "Print the status file as it is");
    status->add_option("DIR", *directory,
                       "The output directory, or a directory with the Quorvane.ini that names it "
                       "(default: the current directory)");
    status->callback([options, directory, &exit_status] {
        if (!directory->empty()) {
            options->directory = *directory;
        }
        exit_status = RunStatus(*options, std::cout, std::cerr);
    });
}
