// The command line of the companion programs (quorvane-cli, quorvane-sim):
// --help and --version answer and end the program with 0; anything the parser
// refuses is named on standard error and ends it with 64, the usage status of
// sysexits.h.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

inline constexpr int kExitUsage = 64;

// Adds --version to `app`, printing VersionLine(program) and the lines of
// `more` after it (what the build can do).
void AddVersionFlag(CLI::App& app, const std::string& program, const std::string& more = "");

// Parses `arguments` (without the program name) into `app`, whose callbacks
// run as they are parsed. Nothing when parsing succeeded; otherwise the exit
// status: 0 after --help or --version (printed to standard output), 64 after
// "<program>: <what is wrong>" and a hint on `err`. A first argument that is
// not an option and names no subcommand is reported as an unknown command.
std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program,
                                    std::vector<std::string> arguments, std::ostream& err);
std::optional<int> ParseCommandLine(CLI::App& app, const std::string& program, int argc,
                                    char** argv, std::ostream& err);

// Validators with plain messages: a number of seconds from 0 to `maximum`.
// Takes the option's text; returns what is wrong with it, empty when nothing.
std::string CheckSeconds(const std::string& text, double maximum);
