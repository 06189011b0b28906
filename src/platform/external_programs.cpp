#include "platform/external_programs.h"

#include "platform/comm.h"

namespace platform {

#ifdef _WIN32

CommandLine FileViewerCommand(const std::string& path, bool from_end) {
    if (from_end) {
        return {"v.exe", {"/E", path}};
    }
    return {"v.exe", {path}};
}

CommandLine WordProcessorCommand(const std::string& path) {
    return {"wordpad.exe", {path}};
}

CommandLine TextEditorCommand(const std::string& path) {
    return {"write.exe", {path}};
}

CommandLine FileBrowserCommand(const std::string&) {
    return {"explorer.exe", {}};
}

CommandLine SerialTerminalCommand(const std::vector<std::string>& line_values, const std::string&) {
    return {"Wexlorant.exe", line_values};
}

std::string SpawnFailureText(const CommandLine&, const std::string& station_text) {
    return station_text;
}

std::string SerialDevicePath(int port_number, const std::string&) {
    return "COM" + std::to_string(port_number);
}

#else

namespace {

std::string ParityWord(const std::string& letter) {
    if (letter == "N")
        return "none";
    if (letter == "E")
        return "even";
    if (letter == "O")
        return "odd";
    if (letter == "M")
        return "mark";
    if (letter == "S")
        return "space";
    return letter;  // tio explains what it does not accept
}

std::string ValueAt(const std::vector<std::string>& values, std::size_t index) {
    return index < values.size() ? values[index] : std::string();
}

}  // namespace

CommandLine FileViewerCommand(const std::string& path, bool) {
    return {"xdg-open", {path}};
}

CommandLine WordProcessorCommand(const std::string& path) {
    return {"xdg-open", {path}};
}

CommandLine TextEditorCommand(const std::string& path) {
    return {"xdg-open", {path}};
}

CommandLine FileBrowserCommand(const std::string& directory) {
    return {"xdg-open", {directory.empty() ? std::string(".") : directory}};
}

CommandLine SerialTerminalCommand(const std::vector<std::string>& line_values,
                                  const std::string& device) {
    return {"x-terminal-emulator",
            {"-e", "tio", "-b", ValueAt(line_values, 1), "-p", ParityWord(ValueAt(line_values, 2)),
             "-d", ValueAt(line_values, 3), "-s", ValueAt(line_values, 4), device}};
}

std::string SpawnFailureText(const CommandLine& command, const std::string&) {
    std::string text = "Error spawning " + command.program + ".";
    if (command.program == "xdg-open") {
        text += " It comes with the package xdg-utils.";
    } else if (command.program == "x-terminal-emulator") {
        text += " It is the system's terminal window (the package xterm, for one);"
                " the port is shown in it by tio (the package tio).";
    }
    return text;
}

std::string SerialDevicePath(int port_number, const std::string& configured) {
    if (!configured.empty()) {
        return configured;
    }
    return DefaultCommDevice(port_number);
}

#endif

}  // namespace platform
