#include "app/viewers.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <new>

#include "app/front_end.h"
#include "platform/directory_listing.h"
#include "platform/files.h"

std::vector<platform::ProcessHandle> ViewerProcesses;

namespace {

// How long the shutdown waits for the viewers to end when asked, before it
// kills those that are left.
constexpr std::chrono::milliseconds kViewerEndTimeout{3000};

}  // namespace

bool LaunchViewer(FrontEnd& front_end, const platform::CommandLine& command,
                  const std::string& error_message) {
    bool can_record = true;
    try {
        ViewerProcesses.reserve(ViewerProcesses.size() + 1);
    } catch (const std::bad_alloc&) {
        can_record = false;  // still start the program, just without keeping it
    }
    const auto process = platform::StartProcess(command.program, command.arguments);
    if (!process) {
        front_end.ShowMessageBox(platform::SpawnFailureText(command, error_message));
        return false;
    }
    if (can_record) {
        ViewerProcesses.push_back(*process);
    } else {
        platform::ReleaseProcess(*process);
    }
    return true;
}

void EndViewerProcesses() {
    for (const platform::ProcessHandle& process : ViewerProcesses) {
        platform::TerminateProcess(process);
    }
    // All are asked first, so they end side by side; then each is collected,
    // and one that has not ended within the common deadline is killed.
    const auto deadline = std::chrono::steady_clock::now() + kViewerEndTimeout;
    for (const platform::ProcessHandle& process : ViewerProcesses) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        platform::CollectProcess(process, static_cast<int>(std::max<int64_t>(left.count(), 0)));
    }
    // Collected processes leave numbers that other processes may get.
    ViewerProcesses.clear();
}

void ForgetViewerProcesses() {
    for (const platform::ProcessHandle& process : ViewerProcesses) {
        platform::ReleaseProcess(process);
    }
    ViewerProcesses.clear();
}

std::optional<std::string> FindOperatingInstructions(const std::string& name) {
    if (platform::PathExists(name.c_str())) {
        return name;
    }
#ifdef QUORVANE_INSTALLED_DOC_DIR
    const std::string installed = platform::JoinPath(QUORVANE_INSTALLED_DOC_DIR, name);
    if (platform::PathExists(installed.c_str())) {
        return installed;
    }
#endif
    return std::nullopt;
}

std::optional<std::string> FindNewestFile(const std::string& pattern_path) {
    const auto separator = pattern_path.find_last_of("/\\");
    const std::string directory =
        separator == std::string::npos ? std::string(".") : pattern_path.substr(0, separator);
    const std::string pattern =
        separator == std::string::npos ? pattern_path : pattern_path.substr(separator + 1);

    // The listing order of a POSIX directory means nothing, so the choice is
    // made on the write times alone, with the name to break a tie.
    std::optional<platform::DirectoryEntry> newest;
    for (platform::DirectoryEntry& entry : platform::ListMatchingFiles(directory, pattern)) {
        if (!newest || entry.last_write_ns > newest->last_write_ns ||
            (entry.last_write_ns == newest->last_write_ns && entry.name > newest->name)) {
            newest = std::move(entry);
        }
    }
    if (!newest) {
        return std::nullopt;
    }
    return newest->name;
}
