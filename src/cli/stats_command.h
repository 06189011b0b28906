// quorvane-cli stats: the diagnostic statistics of one port, computed offline
// by the logger's own analysis over archived data files or raw captures, and
// printed as the statistics file's block (header lines, then the rows).
// Operators use it to re-check archived hours after changing the statistics
// settings of a port.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "config/com_config.h"

namespace CLI {
class App;
}

struct StatsCommandOptions {
    std::string ini = "Quorvane.ini";
    std::string port;  // "COMn"
    bool raw = false;  // the files are raw captures, not archived data files
    std::vector<std::string> files;
};

// Adds the subcommand "stats" to `app`; when it runs, its exit status is
// stored in `exit_status`.
void AddStatsCommand(CLI::App& app, int& exit_status);

// The whole command: reads the INI file, then RunStatsForPort. Returns the
// exit status: 0, or 1 when the INI file, the port or a file was unusable.
int RunStatsCommand(const StatsCommandOptions& options, std::ostream& out, std::ostream& err);

// The command after the configuration has been read: one block on `out` for
// each file (files that cannot be used are reported on `err` and skipped),
// and on `err` a count of the records the logger would have logged (codes 22,
// 23 and 28). Returns the exit status.
int RunStatsForPort(const ComConfig& config, const StatsCommandOptions& options, std::ostream& out,
                    std::ostream& err);

// The received text of an archived data file, as the analysis sees a period's
// buffer: everything before the first start marker (instrument line and
// hygrometer header) is left out, and so is every marker line.
struct ArchivedText {
    int64_t first_marker = 0;  // UTC calendar seconds of the first marker
    int64_t last_marker = 0;   // and of the last one
};

// Turns the content of an archived data file into the period's text in place
// and reads the times of its first and last markers. Returns false (content
// unchanged) when the content holds no start marker.
bool ExtractArchivedText(std::string& content, ArchivedText& times);

// The port position of "COMn" (any case) in `config`, or -1.
int FindPortPosition(const ComConfig& config, const std::string& port);
