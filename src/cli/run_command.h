// quorvane-cli run: the logger without a window, for stations without a
// display and for service managers. In a directory with Quorvane.ini it loads
// the configuration (log entry 00, or 01 and exit status 255 when it is
// refused), takes the output directory (its lock and status file; a second
// logger there is refused with status 75), starts acquisition, tells a
// service manager when it is ready, prints every status change on standard
// output, and on SIGINT, SIGTERM or the end of --for stops acquisition with
// its final flush, writes log entry 02 and exits with status 0.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

namespace CLI {
class App;
}

// The exit status of a refused configuration (the window's -1). A directory
// that another logger holds ends the run with kExitStationBusy (75).
inline constexpr int kExitConfigurationRefused = 255;
// A run that had to give up received text (entries 30 and 41): sysexits'
// EX_IOERR, after a line on standard error with the count.
inline constexpr int kExitTextLost = 74;

// Adds the subcommand; its result goes to `exit_status`.
void AddRunCommand(CLI::App& app, int& exit_status);

// The run itself, in the current directory. `duration`: stop after this long
// (no value: only on a stop request). Status lines go to `out`.
int RunHeadless(std::optional<std::chrono::milliseconds> duration, std::FILE* out);
