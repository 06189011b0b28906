#include "acquisition/rescue.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

#include "platform/files.h"

namespace {

std::mutex g_directory_mutex;
std::string g_directory;
std::atomic<int64_t> g_bytes_rescued{0};

std::string Variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool MakeDirectories(const std::string& directory) {
    std::error_code error;
    std::filesystem::create_directories(directory, error);
    return std::filesystem::is_directory(directory, error);
}

}  // namespace

std::string DefaultRescueDirectory() {
    if (std::string chosen = Variable("QUORVANE_RESCUE_DIRECTORY"); !chosen.empty()) {
        return chosen;
    }
#ifdef _WIN32
    if (std::string local = Variable("LOCALAPPDATA"); !local.empty()) {
        return local + "\\Quorvane\\rescue";
    }
#else
    // A service's state directories come as one list (the first is its own).
    if (std::string state = Variable("STATE_DIRECTORY"); !state.empty()) {
        return state.substr(0, state.find(':')) + "/rescue";
    }
    if (std::string state = Variable("XDG_STATE_HOME"); !state.empty()) {
        return state + "/quorvane/rescue";
    }
    if (std::string home = Variable("HOME"); !home.empty() && home != "/") {
        return home + "/.local/state/quorvane/rescue";
    }
#endif
    return {};
}

void SetRescueDirectory(const std::string& directory) {
    const std::lock_guard lock(g_directory_mutex);
    g_directory = directory;
}

std::string RescueDirectory() {
    const std::lock_guard lock(g_directory_mutex);
    return g_directory;
}

std::string RescueBlock(const RescuedBlock& block) {
    const std::string directory = RescueDirectory();
    if (directory.empty() || block.text.empty() || !MakeDirectories(directory)) {
        return {};
    }
    const std::string path = platform::JoinPath(directory, block.file_name);
    const bool created = platform::FileLength(path.c_str()) <= 0;
    platform::TextPieces bytes;
    if (created) {
        bytes.Add(block.head);
    }
    bytes.Add(block.start_marker);
    bytes.Add(block.text);
    bytes.Add(block.end_marker);
    platform::AppendOptions options;
    options.sync = true;
    if (platform::AppendToFile(path.c_str(), bytes, options) != platform::kAppendOk) {
        return {};
    }
    if (created) {
        platform::SyncDirectory(directory.c_str());
    }
    g_bytes_rescued += static_cast<int64_t>(block.text.size());
    return path;
}

int64_t ReceivedBytesRescued() {
    return g_bytes_rescued.load();
}
