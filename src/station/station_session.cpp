#include "station/station_session.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "log/log_file.h"
#include "platform/files.h"
#include "platform/process.h"

namespace {

// Two names of one directory compare equal; a name that cannot be resolved
// is compared as written.
std::string Canonical(const std::string& directory) {
    std::error_code ec;
    const auto path = std::filesystem::weakly_canonical(std::filesystem::path(directory), ec);
    return ec ? directory : path.string();
}

std::string ProcessText(int64_t process) {
    return std::to_string(process) + "\n";
}

// How to make an output directory usable by the user that runs the logger
// (a directory left by a run as root, one not made yet).
std::string LockRepair(const std::string& directory) {
    const std::string user = platform::CurrentUserName();
#ifdef _WIN32
    return "To repair it, give " + user + " (who runs the logger) the right to create files in " +
           directory + ".\n";
#else
    if (!platform::PathExists(directory.c_str())) {
        return "To repair it, make the directory for " + user +
               " (who runs the logger): sudo install -d -o " + user + " " + directory + "\n";
    }
    return "To repair it, give the directory to " + user +
           " (who runs the logger): sudo chown -R " + user + ": " + directory + "\n";
#endif
}

}  // namespace

StationSession::~StationSession() {
    Close();
}

StationClaim StationSession::Claim(const std::string& directory, std::string& message) {
    if (IsOpen() && Canonical(directory) == Canonical(directory_)) {
        mirror_->Start();
        return StationClaim::kClaimed;
    }
    const std::string lock_file = platform::JoinPath(directory, kLockFileName);
    auto lock = std::make_unique<platform::FileLock>();
    std::string error;
    switch (lock->Acquire(lock_file, ProcessText(platform::OwnProcessId()), error)) {
        case platform::LockResult::kLocked:
            break;
        case platform::LockResult::kHeld:
            message = StationBusyMessage(directory, LockHolderOf(lock_file));
            return StationClaim::kBusy;
        case platform::LockResult::kFailed:
            message = "The lock file " + lock_file + " cannot be created: " + error +
                      ".\nQuorvane needs it to keep a second logger out of its output "
                      "directory.\n" +
                      LockRepair(directory);
            return StationClaim::kUnusable;
    }
    Close();  // the directory held before, if any
    directory_ = directory;
    lock_ = std::move(lock);
    mirror_ = std::make_unique<StationStatusMirror>(directory);
    mirror_->Start();
    return StationClaim::kClaimed;
}

StationClaim StationSession::Claim(const ComConfig& config, std::string& message) {
    const StationClaim claim = Claim(config.OutputDriveAndPath, message);
    if (claim != StationClaim::kClaimed) {
        return claim;
    }
    if (publisher_ != nullptr) {
        mirror_->SetTextObserver(nullptr);
        publisher_->Stop();
        publisher_.reset();
    }
    if (config.PublishTo.empty()) {
        mirror_->SetPublishing({}, false);
        return claim;
    }
    publisher_ = std::make_unique<publish::Publisher>(publish::PublisherSettingsOf(config));
    StationStatusMirror* mirror = mirror_.get();
    publisher_->SetHealthObserver([mirror](const publish::PublishingHealth& health) {
        mirror->SetPublishing(health.text, !health.problem.empty());
    });
    publisher_->Start();
    publish::Publisher* publisher = publisher_.get();
    mirror_->SetTextObserver([publisher](const std::string& text) { publisher->TakeStatus(text); });
    return claim;
}

void StationSession::Close() {
    if (publisher_ != nullptr) {
        mirror_->SetTextObserver(nullptr);
        publisher_->Stop();
        publisher_.reset();
    }
    if (mirror_ != nullptr) {
        mirror_->Stop();
        mirror_.reset();
    }
    lock_.reset();
    directory_.clear();
}

int ExitStatusOf(StationClaim claim) {
    switch (claim) {
        case StationClaim::kBusy:
            return kExitStationBusy;
        case StationClaim::kUnusable:
            return kExitStationUnusable;
        case StationClaim::kClaimed:
            break;
    }
    return 0;
}

std::string StationBusyMessage(const std::string& directory, int64_t holder) {
    std::string message = "Another Quorvane logger";
    if (holder > 0) {
        message += " (process " + std::to_string(holder) + ")";
    }
    message += " already writes to " + directory +
               ".\nOnly one logger may use an output directory: stop that one first, or give "
               "this one\nanother OutputDriveAndPath in Quorvane.ini.\n";
    return message;
}

int64_t LockHolderOf(const std::string& lock_file) {
    std::ifstream file(lock_file, std::ios::binary);
    std::string text;
    std::getline(file, text);
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    return end != text.c_str() && *end == '\0' && value > 0 ? value : 0;
}

void LogToOutputDirectory(const ComConfig& config, const char* message) {
    if (config.OutputDriveAndPath != nullptr && config.OutputDriveAndPath[0] != '\0') {
        WriteLogMessage(config.OutputDriveAndPath, message);
    }
}
