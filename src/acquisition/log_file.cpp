#include "acquisition/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <mutex>

#include "acquisition/log_codes.h"
#include "acquisition/write_problems.h"
#include "config/version.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

// Entries of this process are written one at a time, so two threads that log at
// the same instant both get their line; the deny-write lock still keeps other
// processes from interleaving.
std::mutex g_log_mutex;

// Entries that could not be written, since the last one that could: told in
// the log as soon as it can be written again.
struct UnwrittenEntries {
    long count = 0;
    platform::SystemTime first{};
    platform::SystemTime last{};
};
// By log directory, under g_log_mutex; an entry only while writes fail or a
// catch-up is due.
std::map<std::string, UnwrittenEntries> g_unwritten;

std::string Stamp(const platform::SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d:%03d", t.wMonth, t.wDay,
                  t.wYear % 100, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string EntryLine(const platform::SystemTime& stamp, const std::string& message) {
    return Stamp(stamp) + "  " + message + "\n";
}

// The catch-up entry for what could not be written in `directory`, or nothing.
std::string CatchUpLine(const std::string& directory, const platform::SystemTime& stamp) {
    const auto it = g_unwritten.find(directory);
    if (it == g_unwritten.end()) {
        return "";
    }
    char message[256];
    std::snprintf(message, sizeof message, logmsg::k38LogEntriesLost, it->second.count,
                  Stamp(it->second.first).substr(0, 17).c_str(),
                  Stamp(it->second.last).substr(0, 17).c_str());
    return EntryLine(stamp, message);
}

std::string FileName(const std::tm& day) {
    char name[32];
    std::snprintf(name, sizeof name, "%02d%03d.LOG", (day.tm_year + 1900) % 100, day.tm_yday + 1);
    return name;
}

}  // namespace

std::string LogFilePath(const char* directory, long long seconds) {
    return platform::JoinPath(directory, FileName(platform::BreakDownUtc(seconds)));
}

int WriteLogMessage(const char* directory, const char* message) {
    // Two readings: the calendar clock names the file, the millisecond clock
    // stamps the entry (at midnight they may name different days).
    const std::tm day = platform::BreakDownUtc(platform::Now());
    const platform::SystemTime stamp = platform::UtcNow();
    const std::string path = platform::JoinPath(directory, FileName(day));

    std::string text;
    std::lock_guard<std::mutex> lock(g_log_mutex);
    if (!platform::PathExists(path.c_str())) {
        text = "Quorvane Version " + std::string(kProgramVersion) + " LogFile " + FileName(day) +
               "\n\nMM/DD/YY HH:MM:SS:MMM CODE MESSAGE\n";
    }
    text += CatchUpLine(directory, stamp);
    text += EntryLine(stamp, message);
    platform::TextPieces bytes;
    bytes.Add(text);
    if (platform::AppendToFile(path.c_str(), bytes) == platform::kAppendOk) {
        if (g_unwritten.erase(directory) > 0) {
            ReportWriteProblem("the log " + path + " can be written again");
        }
        return 1;
    }
    UnwrittenEntries& unwritten = g_unwritten[directory];
    if (unwritten.count++ == 0) {
        unwritten.first = stamp;
        ReportWriteProblem("cannot write the log " + path);
    }
    unwritten.last = stamp;
    return 0;
}

bool LogWritesFailing(const char* directory) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_unwritten.count(directory) > 0;
}

void ForgetUnwrittenLogEntries() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    g_unwritten.clear();
}

int WriteLogMessagef(const char* directory, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return WriteLogMessage(directory, message);
}
