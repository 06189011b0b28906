// quorvane-cli status [--json] [DIR]: shows the status page of the logger that
// runs in an output directory, from the status file it keeps there, or says
// that no logger runs there (then with its last page, when one was left).
// Whether a logger runs is told by the directory's lock, not by the file, so
// a logger that died is not taken for a running one.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

// Exit statuses besides 0 (a logger runs) and 64 (usage), as the LSB's
// status actions have them.
inline constexpr int kStatusExitNotRunning = 3;
inline constexpr int kStatusExitUnknown = 4;  // runs, but its page cannot be read
// Runs, and a line of its page is a problem (marked "(!)"), such as an open
// port that delivered nothing since the last update; from the range the LSB
// leaves to applications, so that a monitoring script can tell it apart.
inline constexpr int kStatusExitProblem = 150;

struct StatusOptions {
    // The output directory, or a station directory whose Quorvane.ini names
    // it; nothing: the current directory, read the same way.
    std::optional<std::string> directory;
    bool json = false;  // the status file as it is
};

// The output directory that `given` leads to: itself when it holds a lock or
// status file; else the OutputDriveAndPath of its Quorvane.ini, when that
// names one; else itself.
std::string StatusDirectoryOf(const std::optional<std::string>& given);

// The page to `out`, the reasons for other outcomes to `err`; the exit status.
int RunStatus(const StatusOptions& options, std::ostream& out, std::ostream& err);

void AddStatusCommand(CLI::App& app, int& exit_status);
