// External viewer programs started by the menu commands, and the list of
// their processes, which the shutdown ends.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/external_programs.h"
#include "platform/process.h"

class FrontEnd;

// Every program started by LaunchViewer, in start order. Emptied by each new
// document; nothing is removed when a program ends by itself.
extern std::vector<platform::ProcessHandle> ViewerProcesses;

// Starts `command` without waiting and records its process. When it cannot
// be started, shows `error_message` (on Windows; elsewhere the text that names
// the program tried, see platform::SpawnFailureText) and records nothing.
// True when started.
bool LaunchViewer(FrontEnd& front_end, const platform::CommandLine& command,
                  const std::string& error_message);

// Ends every recorded program with everything it started in its process
// group (those that have ended already are passed over, but not what they
// left running), collects them, and empties the list.
void EndViewerProcesses();

// Stops tracking the recorded programs; they keep running.
void ForgetViewerProcesses();

// Where the operating instructions `name` are: the name itself when the
// current directory holds them (as the station has always kept them); on
// Linux otherwise the installed package's documentation folder. Nothing
// when neither has them.
std::optional<std::string> FindOperatingInstructions(const std::string& name);

// The name (without directory) of the newest file matching the wildcard
// pattern at the end of `pattern_path` ("<directory>/*.log"), matched without
// regard to case: the one written last, and of those written at the same
// time the one with the greatest name. Nothing when no file matches.
std::optional<std::string> FindNewestFile(const std::string& pattern_path);
