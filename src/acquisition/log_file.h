// The daily log: one line per event, in <directory>/<yy><ddd>.LOG (UTC).
#pragma once

#include <string>

// Appends one entry (the message as given, after a time stamp) to the day's log
// file in `directory`, creating the file with its header when it is new.
// The file is read-only between entries. Returns 1 when written, 0 when not.
// Safe to call from several threads: entries of one process never collide.
int WriteLogMessage(const char* directory, const char* message);

// Entries that could not be written are counted by directory; the next entry
// that can be written there is preceded by one entry 38 that tells how many
// and when.

// True while the last entry for `directory` could not be written.
bool LogWritesFailing(const char* directory);
// Forgets what the process kept of unwritten entries, as its end does (tests
// that play a crash).
void ForgetUnwrittenLogEntries();

// printf-style convenience: formats the message, then WriteLogMessage.
int WriteLogMessagef(const char* directory, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The path of the log file for calendar time `seconds` (UTC) in `directory`.
std::string LogFilePath(const char* directory, long long seconds);
