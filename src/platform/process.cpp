#include "platform/process.h"

#include <cstdio>
#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#include <pwd.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

extern char** environ;
#endif

namespace platform {

std::string QuoteWindowsArgument(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string::npos) {
        return argument;
    }
    // Backslashes are literal except before a quote, where 2n (+1) of them
    // stand for n (and the quote itself).
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        if (c == '"') {
            quoted.append(backslashes * 2 + 1, '\\');
        } else {
            quoted.append(backslashes, '\\');
        }
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    quoted += '"';
    return quoted;
}

std::string BuildWindowsCommandLine(const std::vector<std::string>& argv) {
    std::string line;
    for (const std::string& argument : argv) {
        if (!line.empty()) {
            line += ' ';
        }
        line += QuoteWindowsArgument(argument);
    }
    return line;
}

[[noreturn]] void ExitProcess(int status) {
    std::fflush(nullptr);
    std::exit(status);
}

#ifdef _WIN32

namespace {

HANDLE AsHandle(const ProcessHandle& process) {
    return reinterpret_cast<HANDLE>(process.value);
}

bool IsFile(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// The program as the C runtime's spawn functions find it: a bare name is
// looked for in the current directory, then in every directory of PATH
// (".exe" added when the name has no extension). Empty when not found there.
std::string FindOnSearchPath(const std::string& program) {
    if (program.find_first_of("\\/:") != std::string::npos) {
        return program;
    }
    const bool has_extension = program.find('.') != std::string::npos;
    std::vector<std::string> directories{"."};
    const char* path = std::getenv("PATH");
    for (std::string rest = path != nullptr ? path : ""; !rest.empty();) {
        const auto separator = rest.find(';');
        directories.push_back(rest.substr(0, separator));
        rest = separator == std::string::npos ? std::string() : rest.substr(separator + 1);
    }
    for (const std::string& directory : directories) {
        if (directory.empty()) {
            continue;
        }
        const std::string candidate = directory + "\\" + program;
        if (IsFile(candidate)) {
            return candidate;
        }
        if (!has_extension && IsFile(candidate + ".exe")) {
            return candidate + ".exe";
        }
    }
    return std::string();
}

}  // namespace

std::optional<ProcessHandle> StartProcess(const std::string& program,
                                          const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::string command_line = BuildWindowsCommandLine(argv);
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    // Found as the spawn functions find it; failing that, as the system finds
    // it (which also looks in the system folders).
    const std::string found = FindOnSearchPath(program);
    if (!CreateProcessA(found.empty() ? nullptr : found.c_str(), command_line.data(), nullptr,
                        nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        return std::nullopt;
    }
    CloseHandle(info.hThread);
    return ProcessHandle{reinterpret_cast<std::intptr_t>(info.hProcess)};
}

bool TerminateProcess(const ProcessHandle& process) {
    if (WaitForSingleObject(AsHandle(process), 0) == WAIT_OBJECT_0) {
        return false;
    }
    return ::TerminateProcess(AsHandle(process), 0) != 0;
}

void CollectProcess(const ProcessHandle& process, int timeout_ms) {
    if (WaitForSingleObject(AsHandle(process), static_cast<DWORD>(timeout_ms)) != WAIT_OBJECT_0) {
        ::TerminateProcess(AsHandle(process), 0);
    }
    CloseHandle(AsHandle(process));
}

bool WaitForProcessEnd(const ProcessHandle& process, int timeout_ms) {
    return WaitForSingleObject(AsHandle(process), static_cast<DWORD>(timeout_ms)) == WAIT_OBJECT_0;
}

std::optional<int> ExitStatus(const ProcessHandle& process) {
    DWORD code = 0;
    if (WaitForSingleObject(AsHandle(process), 0) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(AsHandle(process), &code)) {
        return std::nullopt;
    }
    return static_cast<int>(code);
}

void ReleaseProcess(const ProcessHandle& process) {
    CloseHandle(AsHandle(process));
}

std::string CurrentUserName() {
    char name[257] = {};
    DWORD size = sizeof name;
    return GetUserNameA(name, &size) ? std::string(name) : std::string("this user");
}

#else

namespace {

pid_t AsPid(const ProcessHandle& process) {
    return static_cast<pid_t>(process.value);
}

// True when the child has ended; it stays a zombie, so its id is not reused.
bool HasEnded(pid_t pid) {
    siginfo_t info{};
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        return errno == ECHILD;  // collected already: long gone
    }
    return info.si_pid == pid;
}

}  // namespace

std::optional<ProcessHandle> StartProcess(const std::string& program,
                                          const std::vector<std::string>& arguments) {
    std::vector<std::string> storage{program};
    storage.insert(storage.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& argument : storage) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);
    pid_t pid = 0;
    // glibc reports a failed exec (program not found) as the result here.
    const int result =
        ::posix_spawnp(&pid, program.c_str(), nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);
    if (result != 0) {
        return std::nullopt;
    }
    return ProcessHandle{static_cast<std::intptr_t>(pid)};
}

bool TerminateProcess(const ProcessHandle& process) {
    const pid_t pid = AsPid(process);
    const bool ended = HasEnded(pid);
    // The whole group, whether or not its leader still runs: a launcher such
    // as xdg-open starts the viewer as its own child and may have exited. The
    // leader is not collected until CollectProcess, so the group's number
    // cannot have passed to another process meanwhile.
    if (::kill(-pid, SIGTERM) != 0 && !ended) {
        ::kill(pid, SIGTERM);
    }
    return !ended;
}

void CollectProcess(const ProcessHandle& process, int timeout_ms) {
    const pid_t pid = AsPid(process);
    if (!WaitForProcessEnd(process, timeout_ms)) {
        ::kill(-pid, SIGKILL);
        ::kill(pid, SIGKILL);
    }
    while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
}

bool WaitForProcessEnd(const ProcessHandle& process, int timeout_ms) {
    const pid_t pid = AsPid(process);
    const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd entry{pidfd, POLLIN, 0};
        const int ready = ::poll(&entry, 1, timeout_ms);
        ::close(pidfd);
        return ready > 0;
    }
    // Without pidfd: look again until the deadline.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!HasEnded(pid)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::optional<int> ExitStatus(const ProcessHandle& process) {
    siginfo_t info{};
    const pid_t pid = AsPid(process);
    if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 ||
        info.si_pid != pid) {
        return std::nullopt;
    }
    if (info.si_code == CLD_EXITED) {
        return info.si_status & 0xff;
    }
    return 128 + info.si_status;
}

void ReleaseProcess(const ProcessHandle& process) {
    // Collect it if it has ended; a running one is left alone.
    ::waitpid(AsPid(process), nullptr, WNOHANG);
}

std::string CurrentUserName() {
    const uid_t uid = ::geteuid();
    const passwd* entry = ::getpwuid(uid);
    return entry != nullptr && entry->pw_name != nullptr ? std::string(entry->pw_name)
                                                          : std::to_string(uid);
}

#endif

}  // namespace platform
