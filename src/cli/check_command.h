// quorvane-cli check [--json] [FILE]: reads a configuration file exactly as the
// logger does at start-up and tells the outcome, so that an operator can check
// an edited file without stopping the logger.
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
};

// Reads options.file with ReadQuorInitializationFile. Writes its ErrorString
// to `out` exactly as stored (nothing added), or, with `json` and a valid file,
// the record as one JSON object. Returns the exit status: 0 for a valid file,
// else -ErrorCode (1 to 13).
int RunCheck(const CheckOptions& options, std::ostream& out);

// Writes a valid record as one JSON object with a line end after it.
void WriteConfigJson(const ComConfig& config, std::ostream& out);

// Adds the "check" subcommand; running it sets `exitStatus`.
void AddCheckCommand(CLI::App& app, int& exitStatus);
