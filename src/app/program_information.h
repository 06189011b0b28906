// The window program's answers on the command line: "--help" (also "-h" and
// "/?") and "--version" as the first argument print and end the program
// before any window exists, so they work without a display. Every other first
// argument goes on to the start-up unchanged.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <vector>

// When the first of `arguments` (after the program name) asks for help or the
// version: prints the answer to `out` and returns the exit status, 0.
// Otherwise nothing, and nothing is printed.
std::optional<int> AnswerInformationArgument(const std::vector<std::string>& arguments,
                                             std::ostream& out);

extern const char kWindowProgramHelp[];
