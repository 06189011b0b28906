#include "app/viewers.h"

#include <new>

#include "app/front_end.h"
#include "platform/directory_listing.h"

std::vector<platform::ProcessHandle> ViewerProcesses;

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
        front_end.ShowMessageBox(error_message);
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
}

void ForgetViewerProcesses() {
    for (const platform::ProcessHandle& process : ViewerProcesses) {
        platform::ReleaseProcess(process);
    }
    ViewerProcesses.clear();
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
