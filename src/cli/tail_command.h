// quorvane-cli tail [DIR] [COMn ...]: prints the text of a running logger's
// ports as it arrives, like tail -f, from the journals the logger keeps in
// its output directory. The devices are not touched, no broker is needed,
// and the logger is never held up: the journals are only read.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

struct TailOptions {
    // The output directory, or a station directory whose Quorvane.ini names
    // it (as for status); nothing: the current directory.
    std::optional<std::string> directory;
    std::vector<int> ports;  // the n of COMn; none: every port with a journal
    std::chrono::milliseconds interval{100};  // between two looks
};

// Reads DIR and COMn arguments in any order; false, with `error` set, on one
// that is neither an existing directory nor COMn.
bool ReadTailArguments(const std::vector<std::string>& arguments, TailOptions& options,
                       std::string& error);

// Prints the ports' new text to `out` until `stop` returns true (asked
// between looks, with the time to wait for). With more than one port, a
// line "==> COMn <==" comes before each port's text when the port changes.
int RunTail(const TailOptions& options, std::ostream& out, std::ostream& err,
            const std::function<bool(std::chrono::milliseconds)>& stop);

void AddTailCommand(CLI::App& app, int& exit_status);
