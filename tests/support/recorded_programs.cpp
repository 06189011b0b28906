#include "support/recorded_programs.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testing_support {
namespace fs = std::filesystem;

namespace {

void SetVariable(const char* name, const std::string& value) {
#ifdef _WIN32
    _putenv_s(name, value.c_str());
#else
    setenv(name, value.c_str(), 1);
#endif
}

void ClearVariable(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

#ifdef _WIN32
constexpr char kListSeparator = ';';
#else
constexpr char kListSeparator = ':';
#endif

std::vector<std::string> ReadLines(const fs::path& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

std::vector<std::string> ViewerProgramNames() {
#ifdef _WIN32
    return {"v.exe", "wordpad.exe", "write.exe", "explorer.exe", "Wexlorant.exe"};
#else
    return {"xdg-open", "x-terminal-emulator"};
#endif
}

RecordedPrograms::RecordedPrograms(const std::vector<std::string>& names) {
    for (const std::string& name : names) {
        const fs::path target = fs::path(bin_.path()) / name;
        fs::copy_file(QUORVANE_RECORD_ARGS_PROGRAM, target, fs::copy_options::overwrite_existing);
        fs::permissions(target, fs::perms::owner_all, fs::perm_options::add);
    }
    const char* path = std::getenv("PATH");
    saved_path_ = path != nullptr ? path : "";
    SetVariable("PATH", bin_.path() + kListSeparator + saved_path_);
    SetVariable("QUORVANE_RECORD_DIR", records_.path());
    ClearVariable("QUORVANE_RECORD_STAY");
}

RecordedPrograms::~RecordedPrograms() {
    SetVariable("PATH", saved_path_);
    ClearVariable("QUORVANE_RECORD_DIR");
    ClearVariable("QUORVANE_RECORD_STAY");
}

void RecordedPrograms::StayRunning(bool stay) {
    if (stay) {
        SetVariable("QUORVANE_RECORD_STAY", "1");
    } else {
        ClearVariable("QUORVANE_RECORD_STAY");
    }
}

std::vector<std::vector<std::string>> RecordedPrograms::Runs() const {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(records_.path())) {
        if (entry.path().extension() == ".args") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<std::vector<std::string>> runs;
    for (const fs::path& file : files) {
        runs.push_back(ReadLines(file));
    }
    return runs;
}

std::vector<std::vector<std::string>> RecordedPrograms::WaitForRuns(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    auto runs = Runs();
    while (runs.size() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        runs = Runs();
    }
    return runs;
}

}  // namespace testing_support
