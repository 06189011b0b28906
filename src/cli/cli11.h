// CLI11, the command-line parser, for the units of quorvane-cli. GCC 12 reports
// a potential null dereference inside the standard library when it inlines
// CLI11's string splitting at -O2; the code is sound, so that one warning is
// switched off for the library's own functions.
#pragma once

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnull-dereference"
#include <CLI/CLI.hpp>
#pragma GCC diagnostic pop
