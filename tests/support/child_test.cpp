#include "support/child_test.h"

#include <string>
#include <vector>

#include "platform/process.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>

#include <climits>
#endif

namespace testing_support {

namespace {

std::string SelfExecutable() {
#ifdef _WIN32
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
#else
    char path[PATH_MAX] = {};
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
#endif
}

}  // namespace

std::optional<int> RunTestInChildProcess(const std::string& test_name) {
    const auto child = platform::StartProcess(
        SelfExecutable(), {"--gtest_filter=" + test_name, "--gtest_also_run_disabled_tests"});
    if (!child) {
        return std::nullopt;
    }
    std::optional<int> status;
    if (platform::WaitForProcessEnd(*child, 120000)) {
        status = platform::ExitStatus(*child);
    } else {
        platform::TerminateProcess(*child);
    }
    platform::ReleaseProcess(*child);
    return status;
}

}  // namespace testing_support
