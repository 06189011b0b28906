// Other programs and the own process: start a program through the search path
// without waiting for it, end it later, and end the own process with a status.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A started program. On Windows the process handle, on POSIX the process id
// (the leader of the program's own process group).
struct ProcessHandle {
    std::intptr_t value = 0;
};

// Starts `program`, found through the executable search path (Windows: the
// current directory, then PATH, as the C runtime's spawn functions look; then
// the system's own folders), with argument 0
// = `program` and then `arguments`, each of which reaches the program as one
// argument, unchanged. Does not wait. Nothing when the program cannot be
// started. The program gets its own process group (POSIX), so a terminal's
// Ctrl+C meant for this process does not reach it.
std::optional<ProcessHandle> StartProcess(const std::string& program,
                                          const std::vector<std::string>& arguments);

// Ends a started program at once (Windows: exit code 0; POSIX: SIGTERM to its
// process group) without waiting for it. On POSIX the group is signalled also
// when the program itself has ended: a launcher such as xdg-open or
// x-terminal-emulator hands over to a viewer in its group and exits. False
// when the program itself had already ended.
bool TerminateProcess(const ProcessHandle& process);

// Collects a program that has been asked to end, so that nothing of it stays
// behind (POSIX: no zombie). Waits up to `timeout_ms` for it to end; one that
// still runs then is killed outright (POSIX: SIGKILL to its process group) and
// collected. The handle must not be used afterwards: its number may be reused.
void CollectProcess(const ProcessHandle& process, int timeout_ms);

// Waits up to `timeout_ms` for the program to end, without collecting it, so a
// later TerminateProcess still sees it as ended and not as somebody else.
// True once it has ended.
bool WaitForProcessEnd(const ProcessHandle& process, int timeout_ms);

// The exit status of a program that has ended (POSIX: the low eight bits;
// a program ended by a signal gives 128 + the signal's number); nothing while
// it runs.
std::optional<int> ExitStatus(const ProcessHandle& process);

// Stops tracking a started program; it keeps running.
void ReleaseProcess(const ProcessHandle& process);

// The name of the user this process runs as (its number when it has none).
std::string CurrentUserName();

// Ends the own process with `status` after flushing the C streams.
[[noreturn]] void ExitProcess(int status);

// One argument quoted for a Windows command line, so that the C runtime's
// parser of the started program gives it back unchanged.
std::string QuoteWindowsArgument(const std::string& argument);
// The whole command line: every argument quoted as needed, joined by blanks.
std::string BuildWindowsCommandLine(const std::vector<std::string>& argv);

}  // namespace platform
