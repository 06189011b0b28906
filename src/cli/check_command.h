// quorvane-cli check [--json] [--strict] [FILE]: reads a configuration file
// exactly as the logger does at start-up and tells the outcome, so that an
// operator can check an edited file without stopping the logger; then warns,
// line by line, about what the reader lets pass but the logger will refuse or
// read otherwise than written (see lint.h).
#pragma once

#include <ostream>
#include <string>

#include "config/com_config.h"

namespace CLI {
class App;
}

struct CheckOptions {
    std::string file = "Quorvane.ini";  // relative to the current directory
    bool json = false;
    bool strict = false;  // warnings make a valid file fail
};

// The exit status of a valid file with warnings under --strict (EX_DATAERR of
// sysexits.h, apart from the reader's codes 1 to 13).
inline constexpr int kCheckExitWarnings = 65;

// Reads options.file with ReadQuorInitializationFile. Writes its ErrorString
// to `out` exactly as stored (nothing added), or, with `json` and a valid file,
// the record as one JSON object. Then writes every warning to `err` as
// "FILE:LINE: text". Returns the exit status: -ErrorCode (1 to 13) for a
// refused file, else 0, or kCheckExitWarnings with `strict` and warnings.
int RunCheck(const CheckOptions& options, std::ostream& out, std::ostream& err);

// Writes a valid record as one JSON object with a line end after it.
void WriteConfigJson(const ComConfig& config, std::ostream& out);

// Adds the "check" subcommand; running it sets `exit_status`.
void AddCheckCommand(CLI::App& app, int& exit_status);
