#include "acquisition/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

#include "config/version.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

// Entries of this process are written one at a time, so two threads that log at
// the same instant both get their line; the deny-write lock still keeps other
// processes from interleaving.
std::mutex g_log_mutex;

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
    char time_stamp[64];
    std::snprintf(time_stamp, sizeof time_stamp, "%02d/%02d/%02d %02d:%02d:%02d:%03d  ",
                  stamp.wMonth, stamp.wDay, stamp.wYear % 100, stamp.wHour, stamp.wMinute,
                  stamp.wSecond, stamp.wMilliseconds);
    text += time_stamp;
    text += message;
    text += '\n';
    platform::TextPieces bytes;
    bytes.Add(text);
    return platform::AppendToFile(path.c_str(), bytes) == platform::kAppendOk ? 1 : 0;
}

int WriteLogMessagef(const char* directory, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return WriteLogMessage(directory, message);
}
