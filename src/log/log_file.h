// The daily log: one line per event, in <directory>/<yy><ddd>.LOG (UTC).
#pragma once

#include <cstddef>
#include <ctime>
#include <memory>
#include <string>

#include "platform/clock.h"

// The station's one way of writing a moment, "MM/DD/YY hh:mm:ss:mmm" (UTC):
// log entries begin with it, and the data files' markers are made of it.
std::string StationStamp(const platform::SystemTime& t);
// The station's files are named by the UTC time they hold: the day as yyddd
// (two-digit year, day of the year from 001) for the log, followed by the
// hour hh for the data and statistics files.
std::string DayFileStem(const std::tm& t);
std::string HourFileStem(const std::tm& t);

// Appends one entry (the message as given, after a time stamp) to the day's log
// file in `directory`, creating the file with its header when it is new.
// The file is read-only between entries, and each entry is on the disk when
// the call returns. Returns 1 when written, 0 when not.
// Safe to call from several threads: entries of one process never collide.
int WriteLogMessage(const char* directory, const char* message);

// An entry that cannot be written is kept, with its own time stamp, and
// written before the next entry that can be: into the file of the day it was
// made (into the current day's file when that one cannot be written), then
// one entry 39 tells how many came late. Memory holds at most
// kMaxKeptLogEntries entries or kMaxKeptLogBytes of them per directory; the
// oldest beyond that are given up and told by entry 38.
//
// What is still kept when acquisition stops, and when the process ends, goes
// to <directory>/journal/log-entries; the first entry a later process writes
// for that directory writes those entries first. Where even that file cannot
// be written, the entries are told as write problems, one by one.
inline constexpr size_t kMaxKeptLogEntries = 100000;
inline constexpr size_t kMaxKeptLogBytes = size_t{16} << 20;

// True while entries for `directory` wait to be written.
bool LogWritesFailing(const char* directory);
// Forgets what the process kept of unwritten entries, as a crash does (tests
// that play one); returns how many entries were kept or given up untold.
size_t ForgetUnwrittenLogEntries();
// The entries this process has made, written or not.
long long LogEntriesMade();

// Puts the entries kept for `directory` into its journal folder (or removes
// the file there once they are written). False when they could not be put
// there; they are then told as write problems and stay in memory.
bool KeepLogEntriesAtStop(const char* directory);

// The file in the journal folder that keeps log entries across a restart.
std::string KeptLogEntriesPath(const char* directory);

// Told of every entry this process makes, written or kept, on the thread that
// made it and after the log has let go of it: its time stamp and the message
// as given. One observer at a time (null: none).
class LogEntryObserver {
public:
    virtual ~LogEntryObserver() = default;
    virtual void OnLogEntry(const char* directory, const platform::SystemTime& stamp,
                            const char* message) = 0;
};
void SetLogEntryObserver(std::shared_ptr<LogEntryObserver> observer);

// printf-style convenience: formats the message, then WriteLogMessage.
int WriteLogMessagef(const char* directory, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The path of the log file for calendar time `seconds` (UTC) in `directory`.
std::string LogFilePath(const char* directory, long long seconds);
