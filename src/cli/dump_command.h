// quorvane-cli dump [--ini FILE] COMn [--send TEXT] [--read-line TERMINATOR TIMEOUT_MS]:
// opens one configured port as the logger does (receive queue 65000, transmit
// queue 25, the section's line settings and Device), prints the port's ten
// dump lines, optionally sends a text and reads one reply line, and closes the
// port. Operators use it to check a port's settings and wiring and to try an
// instrument's command exchange by hand.
#pragma once

#include <optional>
#include <ostream>
#include <string>

namespace CLI {
class App;
}

// Exit statuses besides 0: a port status code -N gives N (the open's code, a
// send that was cut short 9, a read-line time-out 8); these two are for what
// happens before the port is reached.
inline constexpr int kDumpExitUsage = 64;   // a malformed argument
inline constexpr int kDumpExitConfig = 78;  // the INI file is invalid or lacks the port

struct DumpOptions {
    std::string ini = "Quorvane.ini";
    std::string port;                 // "COMn" (any case) or "n"
    std::optional<std::string> send;  // C escapes allowed: \r \n \t \\ \xHH
    bool readLine = false;
    std::string terminator = "13";  // -2..255, or CR, LF, CRLF
    int timeoutMs = 5000;
};

// Runs the command: the dump and the exchange to `out`, problems to `err`.
// Returns the exit status.
int RunDump(const DumpOptions& options, std::ostream& out, std::ostream& err);

// Parses a --send text: C escapes become their bytes. False on a bad escape.
bool UnescapeText(const std::string& text, std::string& bytes);
// Parses a --read-line terminator; false when it is none.
bool ParseTerminator(const std::string& text, int& terminator);
// Shows received bytes in one line: printable ASCII as it is, the rest escaped.
std::string EscapeBytes(const std::string& bytes);

// Adds the "dump" subcommand; running it sets `exit_status`.
void AddDumpCommand(CLI::App& app, int& exit_status);
