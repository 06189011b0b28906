// Failed writes of the log, the data files and the statistics files, told at
// once to whoever shows the operator what goes wrong: the headless run prints
// them on standard error (the log, where it can be written, has them too; the
// status page lists what is not being written).
#pragma once

#include <string>

// Receives one line, such as "cannot write the data file /data/2406110.P01".
// Called on the thread that failed; must not block.
using WriteProblemHandler = void (*)(const std::string& problem);

// Installs the handler (nullptr: none, the default).
void SetWriteProblemHandler(WriteProblemHandler handler);

// Tells the handler, if any.
void ReportWriteProblem(const std::string& problem);
