// The programs that the station uses to show files and ports, as command lines
// for StartProcess. Windows has the station's own viewer ("v.exe"), terminal
// emulator ("Wexlorant.exe"), WordPad, Write and Explorer; Linux opens files
// and folders with the desktop's choice (xdg-open) and a port with a serial
// terminal (tio) in a terminal window.
#pragma once

#include <string>
#include <vector>

namespace platform {

struct CommandLine {
    std::string program;
    std::vector<std::string> arguments;  // after argument 0, which is `program`
};

// A text file in the file viewer; `from_end` opens it at its end (log files).
CommandLine FileViewerCommand(const std::string& path, bool from_end);
// A document in the word processor.
CommandLine WordProcessorCommand(const std::string& path);
// A text file in the text editor.
CommandLine TextEditorCommand(const std::string& path);
// The file browser. Windows opens its default folder; elsewhere `directory`
// (the current directory when empty).
CommandLine FileBrowserCommand(const std::string& directory);

// The terminal emulator on a serial port. `line_values` are the port number,
// baud rate, parity letter, data bits and stop bits, as text. `device` is the
// port's device path where the platform needs one (see SerialDevicePath).
CommandLine SerialTerminalCommand(const std::vector<std::string>& line_values,
                                  const std::string& device);

// What a menu command says when `command` did not start. Windows keeps the
// station's own text (`station_text`, which may be empty: nothing is said).
// Elsewhere the text names the program that was really tried and the package
// that brings it, since the station's Windows names would send the operator
// looking for programs that this system never has.
std::string SpawnFailureText(const CommandLine& command, const std::string& station_text);

// The device of COM<port_number>: `configured` when given, else /dev/ttyS<n-1>
// (POSIX); "COM<n>" on Windows.
std::string SerialDevicePath(int port_number, const std::string& configured);

}  // namespace platform
