#include "log/log_file.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>

#include "log/log_codes.h"
#include "log/write_problems.h"
#include "platform/clock.h"
#include "platform/durable_file.h"
#include "platform/files.h"
#include "version/version.h"

std::string StationStamp(const platform::SystemTime& t) {
    char text[64];
    std::snprintf(text, sizeof text, "%02d/%02d/%02d %02d:%02d:%02d:%03d", t.wMonth, t.wDay,
                  t.wYear % 100, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds);
    return text;
}

std::string DayFileStem(const std::tm& t) {
    char stem[16];
    std::snprintf(stem, sizeof stem, "%02d%03d", (t.tm_year + 1900) % 100, t.tm_yday + 1);
    return stem;
}

std::string HourFileStem(const std::tm& t) {
    char hour[8];
    std::snprintf(hour, sizeof hour, "%02d", t.tm_hour);
    return DayFileStem(t) + hour;
}

namespace {

// Entries of this process are written one at a time, so two threads that log at
// the same instant both get their line; the deny-write lock still keeps other
// processes from interleaving.
std::mutex g_log_mutex;

// The journal folder of the output directory (the received text's journals
// live there too, under names of their own).
constexpr char kJournalFolderName[] = "journal";
constexpr char kKeptFileName[] = "log-entries";
constexpr char kKeptFileHeader[] = "Quorvane log entries not yet written";

// Length of "MM/DD/YY HH:MM:SS", the start of every entry line: the times of
// entries 38 and 39.
constexpr size_t kStampToTheSecond = 17;
// Length of "MM/DD/YY HH:MM:SS:MMM", the whole stamp.
constexpr size_t kStampLength = 21;

// A number of entries and the times of the first and the last.
struct Tally {
    long count = 0;
    std::string first;
    std::string last;

    void Add(long entries, const std::string& from, const std::string& to) {
        if (count == 0) {
            first = from;
        }
        last = to;
        count += entries;
    }
};

// Entries of one day's log file, in the order they were made; each a whole
// line with its time stamp and line end.
struct DayOfEntries {
    std::string file;
    std::deque<std::string> lines;
};

// What waits to be written into the log of one directory.
struct KeptEntries {
    std::deque<DayOfEntries> days;  // in the order the entries were made
    size_t entries = 0;
    size_t bytes = 0;
    Tally late;            // written late, before the entry 39 that tells it
    Tally lost;            // given up, before the entry 38 that tells it
    bool looked = false;   // an earlier process's file was looked for
    bool saved = false;    // the journal folder holds a file of them
    bool failing = false;  // told as a write problem until an entry is written

    bool Holds() const { return entries > 0 || late.count > 0 || lost.count > 0; }
};
// By log directory, under g_log_mutex.
std::map<std::string, KeptEntries> g_kept;
bool g_kept_at_exit = false;
long long g_entries_made = 0;
// Log files that a failed append left holding part of it.
platform::UnfinishedAppends g_unfinished;

std::string StampOf(const std::string& line) {
    return line.substr(0, kStampToTheSecond);
}

std::string EntryLine(const platform::SystemTime& stamp, const std::string& message) {
    return StationStamp(stamp) + "  " + message + "\n";
}

std::string FileName(const std::tm& day) {
    return DayFileStem(day) + ".LOG";
}

// A name FileName could have made: nothing read back from a file may name
// a path outside the log directory.
bool IsLogFileName(const std::string& name) {
    if (name.size() != 9 || name.compare(5, 4, ".LOG") != 0) {
        return false;
    }
    for (size_t i = 0; i < 5; ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return false;
        }
    }
    return true;
}

std::string Header(const std::string& file) {
    return "Quorvane Version " + std::string(kProgramVersion) + " LogFile " + file +
           "\n\nMM/DD/YY HH:MM:SS:MMM CODE MESSAGE\n";
}

std::string TallyMessage(const char* format, const Tally& tally) {
    char message[256];
    std::snprintf(message, sizeof message, format, tally.count, tally.first.c_str(),
                  tally.last.c_str());
    return message;
}

std::string TallyLine(const char* format, const Tally& tally, const platform::SystemTime& stamp) {
    return tally.count == 0 ? "" : EntryLine(stamp, TallyMessage(format, tally));
}

// The kept lines of days [first, end), one at a time, as an append reads them.
class KeptLines final : public platform::AppendSource {
public:
    KeptLines(const std::deque<DayOfEntries>& days, size_t first, size_t end)
        : days_(days), first_(first), end_(end), day_(first) {}
    void Rewind() override {
        day_ = first_;
        line_ = 0;
    }
    std::string_view Next() override {
        for (; day_ < end_; ++day_, line_ = 0) {
            if (line_ < days_[day_].lines.size()) {
                return days_[day_].lines[line_++];
            }
        }
        return {};
    }

private:
    const std::deque<DayOfEntries>& days_;
    size_t first_;
    size_t end_;
    size_t day_;
    size_t line_ = 0;
};

// Appends the kept lines of days [first, end), then `after`, to `file` in
// `directory`, with the header first when the file is new.
// Every entry reaches the disk before the call returns: an entry that tells
// of lost text must outlive a power cut as the text would have. What a power
// cut tore off the last append is cut away first, so that no entry is
// written after half of another.
bool AppendToLog(const std::string& directory, const std::string& file, const KeptEntries& kept,
                 size_t first, size_t end, const std::string& after) {
    const std::string path = platform::JoinPath(directory, file);
    const std::string header_text = Header(file);
    // Part of a failed append still in the file goes first: its entries are
    // kept, and are written again below.
    if (!g_unfinished.PutBack(path) ||
        !platform::CutTornLastLine(path.c_str(), header_text.size())) {
        return false;
    }
    const std::string header = platform::FileLength(path.c_str()) > 0 ? "" : header_text;
    KeptLines lines(kept.days, first, end);
    platform::TextPieces bytes;
    bytes.Add(header);
    bytes.AddSource(lines);
    bytes.Add(after);
    platform::AppendOptions options;
    options.sync = true;
    options.unfinished = &g_unfinished;
    return platform::AppendToFile(path.c_str(), bytes, options) == platform::kAppendOk;
}

void CountLate(KeptEntries& kept, const DayOfEntries& day) {
    kept.late.Add(static_cast<long>(day.lines.size()), StampOf(day.lines.front()),
                  StampOf(day.lines.back()));
    for (const std::string& line : day.lines) {
        kept.bytes -= line.size();
    }
    kept.entries -= day.lines.size();
}

// Kept entries of earlier days go into their own day's file while it can be
// written; the first that cannot leaves them and all later ones to today's.
void WriteEarlierDays(const std::string& directory, KeptEntries& kept, const std::string& today) {
    while (!kept.days.empty() && kept.days.front().file != today &&
           AppendToLog(directory, kept.days.front().file, kept, 0, 1, "")) {
        CountLate(kept, kept.days.front());
        kept.days.pop_front();
    }
}

// Writes what is kept, then `line`, the entry being made now; the entries 38
// and 39 tell what was given up and what came late. False when today's file
// cannot be written: then only earlier days may have been written.
bool WriteWithKept(const std::string& directory, KeptEntries& kept, const std::string& file,
                   const std::string& line, const platform::SystemTime& stamp) {
    WriteEarlierDays(directory, kept, file);
    Tally late = kept.late;
    if (kept.entries > 0) {
        late.Add(static_cast<long>(kept.entries), StampOf(kept.days.front().lines.front()),
                 StampOf(kept.days.back().lines.back()));
    }
    const std::string after = TallyLine(logmsg::k38LogEntriesLost, kept.lost, stamp) +
                              TallyLine(logmsg::k39LogEntriesLate, late, stamp) + line;
    if (!AppendToLog(directory, file, kept, 0, kept.days.size(), after)) {
        return false;
    }
    kept.days.clear();
    kept.entries = 0;
    kept.bytes = 0;
    kept.late = {};
    kept.lost = {};
    return true;
}

void GiveUpOldest(KeptEntries& kept) {
    DayOfEntries& oldest = kept.days.front();
    const std::string& line = oldest.lines.front();
    kept.lost.Add(1, StampOf(line), StampOf(line));
    kept.bytes -= line.size();
    --kept.entries;
    oldest.lines.pop_front();
    if (oldest.lines.empty()) {
        kept.days.pop_front();
    }
}

void KeepAllAtExit();

// The kept entries outlive the process: they go to the journal folder when
// it ends, also when nobody stopped acquisition first.
void KeepAtExitOnce() {
    if (!g_kept_at_exit) {
        g_kept_at_exit = true;
        std::atexit(KeepAllAtExit);
    }
}

void Keep(KeptEntries& kept, const std::string& file, std::string line) {
    if (kept.days.empty() || kept.days.back().file != file) {
        kept.days.push_back(DayOfEntries{file, {}});
    }
    kept.bytes += line.size();
    ++kept.entries;
    kept.days.back().lines.push_back(std::move(line));
    while (kept.entries > 0 &&
           (kept.entries > kMaxKeptLogEntries || kept.bytes > kMaxKeptLogBytes)) {
        GiveUpOldest(kept);
    }
    KeepAtExitOnce();
}

// --- The file of kept entries ------------------------------------------------
// A header line, then one line each: "lost", "late" (count, first, last) and
// every entry as its file name and its line, separated by tabs; a backslash,
// line feed or carriage return in a line is written as \\, \n, \r.

std::string Escaped(const std::string& line) {
    std::string text;
    for (char c : line) {
        switch (c) {
            case '\\':
                text += "\\\\";
                break;
            case '\n':
                text += "\\n";
                break;
            case '\r':
                text += "\\r";
                break;
            default:
                text += c;
        }
    }
    return text;
}

// False when `text` holds an escape that Escaped never writes.
bool Unescape(const std::string& text, std::string& line) {
    line.clear();
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            line += text[i];
            continue;
        }
        const char next = ++i < text.size() ? text[i] : '\0';
        if (next == '\\') {
            line += '\\';
        } else if (next == 'n') {
            line += '\n';
        } else if (next == 'r') {
            line += '\r';
        } else {
            return false;
        }
    }
    return true;
}

std::string TallyRecord(const char* name, const Tally& tally) {
    if (tally.count == 0) {
        return "";
    }
    return std::string(name) + "\t" + std::to_string(tally.count) + "\t" + tally.first + "\t" +
           tally.last + "\n";
}

std::string Serialised(const KeptEntries& kept) {
    std::string text = std::string(kKeptFileHeader) + "\n";
    text += TallyRecord("lost", kept.lost);
    text += TallyRecord("late", kept.late);
    for (const DayOfEntries& day : kept.days) {
        for (const std::string& line : day.lines) {
            // Without its line end, which every kept line has.
            text += day.file + "\t" + Escaped(line.substr(0, line.size() - 1)) + "\n";
        }
    }
    return text;
}

bool ReadTally(std::istringstream& fields, Tally& tally) {
    std::string count;
    std::string first;
    std::string last;
    if (!std::getline(fields, count, '\t') || !std::getline(fields, first, '\t') ||
        !std::getline(fields, last)) {
        return false;
    }
    char* end = nullptr;
    const long value = std::strtol(count.c_str(), &end, 10);
    if (end == count.c_str() || *end != '\0' || value <= 0) {
        return false;
    }
    tally.Add(value, first, last);
    return true;
}

// One record of the file into `kept`; false when it is not one.
bool ReadRecord(const std::string& record, KeptEntries& kept) {
    std::istringstream fields(record);
    std::string name;
    std::getline(fields, name, '\t');
    if (name == "lost") {
        return ReadTally(fields, kept.lost);
    }
    if (name == "late") {
        return ReadTally(fields, kept.late);
    }
    std::string text;
    std::string line;
    if (!IsLogFileName(name) || !std::getline(fields, text) || !Unescape(text, line) ||
        line.size() < kStampToTheSecond) {
        return false;
    }
    Keep(kept, name, line + "\n");
    return true;
}

// Where a log file's text is searched for entries already written.
struct WrittenText {
    std::string content;
    size_t from = 0;  // past the last entry found: kept entries are in order
};

// The file's text with its line ends as the kept lines have them (a
// text-mode write on Windows put CR LF on disk).
WrittenText ReadWritten(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    std::string lines;
    lines.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')) {
            lines += text[i];
        }
    }
    return WrittenText{lines, 0};
}

// True when `text` holds `line` as a whole entry after the last one found.
bool FindEntry(WrittenText& text, const std::string& line) {
    const size_t at = text.content.find("\n" + line, text.from);
    if (at == std::string::npos) {
        return false;
    }
    text.from = at + 1 + line.size() - 1;  // at the line end, which starts the next search
    return true;
}

// True when `text` holds an entry, of any time, whose message is `message`.
bool FindMessage(const WrittenText& text, const std::string& message) {
    for (size_t at = text.content.find("  " + message + "\n"); at != std::string::npos;
         at = text.content.find("  " + message + "\n", at + 1)) {
        if (at >= kStampLength &&
            (at == kStampLength || text.content[at - kStampLength - 1] == '\n')) {
            return true;
        }
    }
    return false;
}

// A process that wrote the kept entries may have died before it removed
// their file: entries its log already holds (the same text, to the
// millisecond, in the same order) are not written again, nor the entries 38
// and 39 that told of them.
void PassOverWrittenEntries(const std::string& directory, KeptEntries& kept) {
    std::map<std::string, WrittenText> files;
    for (const DayOfEntries& day : kept.days) {
        if (files.count(day.file) == 0) {
            files.emplace(day.file, ReadWritten(platform::JoinPath(directory, day.file)));
        }
    }
    const std::string today = FileName(platform::BreakDownUtc(platform::Now()));
    if (files.count(today) == 0) {
        files.emplace(today, ReadWritten(platform::JoinPath(directory, today)));
    }
    // The entries 38 and 39 as the write of these entries made them.
    Tally late = kept.late;
    if (kept.entries > 0) {
        late.Add(static_cast<long>(kept.entries), StampOf(kept.days.front().lines.front()),
                 StampOf(kept.days.back().lines.back()));
    }
    const std::pair<Tally*, std::string> tellers[] = {
        {&kept.lost, kept.lost.count > 0 ? TallyMessage(logmsg::k38LogEntriesLost, kept.lost) : ""},
        {&kept.late, late.count > 0 ? TallyMessage(logmsg::k39LogEntriesLate, late) : ""},
    };
    for (DayOfEntries& day : kept.days) {
        WrittenText& text = files[day.file];
        std::deque<std::string> unwritten;
        for (std::string& line : day.lines) {
            if (FindEntry(text, line)) {
                kept.bytes -= line.size();
                --kept.entries;
            } else {
                unwritten.push_back(std::move(line));
            }
        }
        day.lines.swap(unwritten);
    }
    std::erase_if(kept.days, [](const DayOfEntries& day) { return day.lines.empty(); });
    for (const auto& [tally, message] : tellers) {
        for (const auto& [file, text] : files) {
            if (!message.empty() && FindMessage(text, message)) {
                *tally = {};
                break;
            }
        }
    }
}

// What an earlier process left to be written, at the first entry of this
// one for `directory`.
void TakeUpKeptFile(const std::string& directory, KeptEntries& kept) {
    kept.looked = true;
    // A log file that a process made before it died may not have its name
    // on the disk yet: synced entries appended to it now would go with the
    // name at a power cut.
    platform::SyncDirectory(directory.c_str());
    const std::string path = KeptLogEntriesPath(directory.c_str());
    std::ifstream file(path, std::ios::binary);
    std::string record;
    if (!file || !std::getline(file, record)) {
        return;
    }
    if (record != kKeptFileHeader) {
        ReportWriteProblem("cannot read the kept log entries " + path);
        return;
    }
    long unreadable = 0;
    while (std::getline(file, record)) {
        unreadable += ReadRecord(record, kept) ? 0 : 1;
    }
    if (unreadable > 0) {
        ReportWriteProblem(std::to_string(unreadable) + " records of " + path +
                           " cannot be read and are passed over");
    }
    PassOverWrittenEntries(directory, kept);
    kept.saved = true;
}

// Writes `content` beside `path`, makes it durable, then gives it the name:
// a crash leaves the old file or the new one, never a part of either.
bool ReplaceDurably(const std::string& folder, const std::string& path,
                    const std::string& content) {
    const std::string temporary = path + ".tmp";
    platform::DurableFile file;
    bool done = file.Open(temporary) && file.Truncate(0) &&
                file.WriteAt(0, content.data(), content.size()) && file.Sync();
    file.Close();
    std::error_code ec;
    if (done) {
        std::filesystem::rename(temporary, path, ec);
        done = !ec;
    }
    if (!done) {
        std::filesystem::remove(temporary, ec);
        return false;
    }
    platform::SyncDirectory(folder.c_str());
    return true;
}

// Where nothing can keep them, the entries are at least told.
void TellUnkept(const std::string& path, const KeptEntries& kept) {
    ReportWriteProblem("cannot keep " + std::to_string(kept.entries) +
                       " log entries that cannot be written in " + path + "; they are:");
    if (kept.lost.count > 0) {
        ReportWriteProblem(TallyMessage(logmsg::k38LogEntriesLost, kept.lost));
    }
    for (const DayOfEntries& day : kept.days) {
        for (const std::string& line : day.lines) {
            ReportWriteProblem(day.file + " " + line.substr(0, line.size() - 1));
        }
    }
}

void ForgetKeptFile(const std::string& directory, KeptEntries& kept) {
    const std::string path = KeptLogEntriesPath(directory.c_str());
    if (platform::RemoveFile(path.c_str())) {
        kept.saved = false;
        platform::SyncDirectory(platform::JoinPath(directory, kJournalFolderName).c_str());
    } else {
        ReportWriteProblem("cannot remove " + path + ": the next start writes its entries again");
    }
}

bool KeepInJournalFolder(const std::string& directory, KeptEntries& kept) {
    if (!kept.Holds()) {
        if (kept.saved) {
            ForgetKeptFile(directory, kept);
        }
        return true;
    }
    const std::string folder = platform::JoinPath(directory, kJournalFolderName);
    const std::string path = KeptLogEntriesPath(directory.c_str());
    std::error_code ec;
    // Only the folder: an output directory that is gone is not made anew.
    if (std::filesystem::create_directory(folder, ec)) {
        platform::SyncDirectory(directory.c_str());
    }
    if (!ReplaceDurably(folder, path, Serialised(kept))) {
        TellUnkept(path, kept);
        return false;
    }
    kept.saved = true;
    ReportWriteProblem(std::to_string(kept.entries) +
                       " log entries that cannot be written yet are kept in " + path);
    return true;
}

void KeepAllAtExit() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    for (auto& [directory, kept] : g_kept) {
        if (kept.Holds() || kept.saved) {
            KeepInJournalFolder(directory, kept);
        }
    }
}

}  // namespace

std::string LogFilePath(const char* directory, long long seconds) {
    return platform::JoinPath(directory, FileName(platform::BreakDownUtc(seconds)));
}

std::string KeptLogEntriesPath(const char* directory) {
    return platform::JoinPath(platform::JoinPath(directory, kJournalFolderName), kKeptFileName);
}

namespace {

std::mutex g_observer_mutex;
std::shared_ptr<LogEntryObserver> g_observer;

void TellObserver(const char* directory, const platform::SystemTime& stamp, const char* message) {
    std::shared_ptr<LogEntryObserver> observer;
    {
        const std::lock_guard<std::mutex> lock(g_observer_mutex);
        observer = g_observer;
    }
    if (observer != nullptr) {
        observer->OnLogEntry(directory, stamp, message);
    }
}

// Writes the entry, or keeps it; 1 when written.
int WriteOrKeep(const char* directory, const platform::SystemTime& stamp, const std::string& file,
                std::string line) {
    const std::string path = platform::JoinPath(directory, file);
    std::lock_guard<std::mutex> lock(g_log_mutex);
    ++g_entries_made;
    KeptEntries& kept = g_kept[directory];
    if (!kept.looked) {
        TakeUpKeptFile(directory, kept);
    }
    if (WriteWithKept(directory, kept, file, line, stamp)) {
        if (kept.failing) {
            kept.failing = false;
            ReportWriteProblem("the log " + path + " can be written again");
        }
        if (kept.saved) {
            ForgetKeptFile(directory, kept);
        }
        return 1;
    }
    Keep(kept, file, std::move(line));
    if (!kept.failing) {
        kept.failing = true;
        ReportWriteProblem("cannot write the log " + path);
    }
    return 0;
}

}  // namespace

void SetLogEntryObserver(std::shared_ptr<LogEntryObserver> observer) {
    const std::lock_guard<std::mutex> lock(g_observer_mutex);
    g_observer = std::move(observer);
}

int WriteLogMessage(const char* directory, const char* message) {
    // Two readings: the calendar clock names the file, the millisecond clock
    // stamps the entry (at midnight they may name different days).
    const std::string file = FileName(platform::BreakDownUtc(platform::Now()));
    const platform::SystemTime stamp = platform::UtcNow();
    const int written = WriteOrKeep(directory, stamp, file, EntryLine(stamp, message));
    TellObserver(directory, stamp, message);
    return written;
}

bool LogWritesFailing(const char* directory) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    const auto it = g_kept.find(directory);
    return it != g_kept.end() && it->second.entries > 0;
}

bool KeepLogEntriesAtStop(const char* directory) {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    const auto it = g_kept.find(directory);
    return it == g_kept.end() || KeepInJournalFolder(directory, it->second);
}

size_t ForgetUnwrittenLogEntries() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    size_t forgotten = 0;
    for (const auto& [directory, kept] : g_kept) {
        forgotten += kept.entries + static_cast<size_t>(kept.lost.count);
    }
    g_kept.clear();
    g_unfinished.Clear();
    return forgotten;
}

long long LogEntriesMade() {
    std::lock_guard<std::mutex> lock(g_log_mutex);
    return g_entries_made;
}

int WriteLogMessagef(const char* directory, const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    return WriteLogMessage(directory, message);
}
