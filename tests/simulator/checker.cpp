#include "checker.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "platform/clock.h"
#include "schedule.h"
#include "support/temp_dir.h"

namespace simulation {
namespace fs = std::filesystem;

namespace {

constexpr size_t kStampLength = 21;  // "MM/DD/YY HH:MM:SS:mmm"

bool IsStamp(const std::string& text, size_t at) {
    static const char kShape[] = "dd/dd/dd dd:dd:dd:ddd";
    if (at + kStampLength > text.size()) {
        return false;
    }
    for (size_t k = 0; k < kStampLength; ++k) {
        const char c = text[at + k];
        const bool fits =
            kShape[k] == 'd' ? std::isdigit(static_cast<unsigned char>(c)) != 0 : c == kShape[k];
        if (!fits) {
            return false;
        }
    }
    return true;
}

std::string DataFileName(int64_t ms, int port_number) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    const std::tm t = platform::BreakDownUtc(seconds);
    char name[32];
    std::snprintf(name, sizeof name, "%02d%03d%02d.P%02d", (t.tm_year + 1900) % 100, t.tm_yday + 1,
                  t.tm_hour, port_number);
    return name;
}

// A few bytes around `at`, printable.
std::string Around(const std::string& text, size_t at) {
    const size_t from = at > 12 ? at - 12 : 0;
    std::string shown;
    for (size_t k = from; k < text.size() && k < at + 12; ++k) {
        const char c = text[k];
        if (k == at) {
            shown += "[";
        }
        if (c == '\n') {
            shown += "\\n";
        } else if (std::isprint(static_cast<unsigned char>(c)) != 0) {
            shown += c;
        } else {
            shown += "?";
        }
        if (k == at) {
            shown += "]";
        }
    }
    return "\"" + shown + "\"";
}

struct ParsedDataFile {
    // The text of each block (and of each run after an end marker), in file
    // order. Text lost with a crash ends a block: the next life's text
    // begins one of its own.
    std::vector<std::string> runs;
    std::vector<std::string> problems;
};

// Takes a data file apart: its instrument line, then blocks, each opened by a
// StartTime marker and closed by an EndTime marker or by the next block. A
// device's text never holds a line end, so every line end beside a marker is
// the marker's.
// `crash_caught`: a crash caught the engine writing this file, so that a
// block may hold its start marker alone (the append's first piece).
ParsedDataFile ParseDataFile(const std::string& content, const std::string& instrument,
                             bool crash_caught) {
    ParsedDataFile parsed;
    if (content.empty()) {
        parsed.problems.push_back("is empty");
        return parsed;
    }
    const std::string head = instrument + "\n";
    if (content.compare(0, head.size(), head) != 0) {
        parsed.problems.push_back("does not begin with its instrument line: " + Around(content, 0));
        return parsed;
    }
    size_t at = head.size();
    // Where the text being read stands: before any block (none allowed), in
    // a block, or after an end marker. Text there is allowed: a run whose
    // first period had nothing from this port appends its later text of the
    // hour without a start marker of its own (the first flush of a run
    // marks only the ports that had text in it).
    enum class Place { kBeforeBlocks, kInBlock, kAfterEnd } place = Place::kBeforeBlocks;
    auto close_run = [&](size_t end, bool end_marker) {
        std::string run = content.substr(at, end - at);
        if (end_marker) {
            if (run.empty() || run.back() != '\n') {
                parsed.problems.push_back("has an EndTime marker without its line end at byte " +
                                          std::to_string(end));
            } else {
                run.pop_back();
            }
        }
        if (place == Place::kBeforeBlocks && !run.empty()) {
            parsed.problems.push_back("has text before its first start marker: " +
                                      Around(content, at));
        }
        if (run.empty() && (end_marker || (place == Place::kInBlock && !crash_caught))) {
            parsed.problems.push_back("has a block with its markers and no text, at byte " +
                                      std::to_string(at));
        }
        if (const size_t line_end = run.find('\n'); line_end != std::string::npos) {
            parsed.problems.push_back("has a line end no device sent at byte " +
                                      std::to_string(at + line_end) + ": " +
                                      Around(content, at + line_end));
        }
        parsed.runs.push_back(run);
    };
    for (;;) {
        size_t marker = std::string::npos;
        bool start = false;
        for (size_t search = at; search < content.size();) {
            const size_t word = content.find("Time\n", search);
            if (word == std::string::npos) {
                break;
            }
            for (const char* kind : {"Start", "End"}) {
                const size_t length = std::char_traits<char>::length(kind);
                if (word >= kStampLength + 1 + length &&
                    content.compare(word - length, length, kind) == 0 &&
                    IsStamp(content, word - length - 1 - kStampLength) &&
                    word - length - 1 - kStampLength >= at) {
                    marker = word - length - 1 - kStampLength;
                    start = kind[0] == 'S';
                }
            }
            if (marker != std::string::npos) {
                break;
            }
            search = word + 1;
        }
        if (marker == std::string::npos) {
            if (at < content.size() || place == Place::kInBlock) {
                close_run(content.size(), false);
            }
            break;
        }
        close_run(marker, !start);
        at = content.find("Time\n", marker) + 5;
        place = start ? Place::kInBlock : Place::kAfterEnd;
    }
    return parsed;
}

struct HourText {
    std::string bytes;
    std::vector<uint64_t> offsets;  // of each byte in the device's whole text
    std::vector<int64_t> times;
};

struct LogSummary {
    int64_t entries = 0;                // besides the catch-up entries 38
    int64_t counted_unwritten = 0;      // the sum of the 38s
    std::map<int, int64_t> lost;        // bytes the loss entries count, by COM number
    std::map<std::string, int> writes;  // entries 20, by file name
    std::vector<std::string> problems;
    std::set<std::string> lines;    // every whole entry line of the logs
    std::set<std::string> told_38;  // the messages of the entries 38
    // Parts of failed writes that entries 44 tell to remove by hand: by data
    // file name, where each begins and its length.
    std::map<std::string, std::map<int64_t, int64_t>> parts_to_remove;
};

void CountEntry(const std::string& message, LogSummary& summary);

int64_t NumberAfter(const std::string& text, size_t at) {
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) == 0) {
        ++at;
    }
    int64_t value = 0;
    while (at < text.size() && std::isdigit(static_cast<unsigned char>(text[at])) != 0) {
        value = value * 10 + (text[at] - '0');
        ++at;
    }
    return value;
}

// `crash_caught`: a crash caught the engine appending to this log; the
// entry it tore is one it had not written, and no later entry follows it
// unless another append came (which cuts it off first).
void ReadLog(const std::string& path, bool crash_caught, LogSummary& summary) {
    const std::string name = fs::path(path).filename().string();
    std::string content = testing_support::ReadFile(path);
    if (!content.empty() && content.back() != '\n') {
        if (crash_caught) {
            const size_t end = content.rfind('\n');
            content.resize(end == std::string::npos ? 0 : end + 1);
        } else {
            summary.problems.push_back("log " + name + " ends in the middle of an entry: " +
                                       Around(content, content.size() - 1));
        }
    }
    std::istringstream in(content);
    std::string line;
    int number = 0;
    int header = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number == 1 && line.rfind("Quorvane Version ", 0) == 0) {
            header = 2;
            continue;
        }
        if (header > 0) {
            --header;
            continue;
        }
        const bool whole = IsStamp(line, 0) && line.size() >= kStampLength + 6 &&
                           line.compare(kStampLength, 2, "  ") == 0 &&
                           std::isdigit(static_cast<unsigned char>(line[kStampLength + 2])) != 0 &&
                           std::isdigit(static_cast<unsigned char>(line[kStampLength + 3])) != 0 &&
                           line.compare(kStampLength + 4, 2, "  ") == 0;
        // A write cut short leaves an entry without its end, and the next
        // entry goes on on the same line.
        bool torn = false;
        for (size_t at = line.find('/', kStampLength); at != std::string::npos && !torn;
             at = line.find('/', at + 1)) {
            torn = at >= 2 && IsStamp(line, at - 2);
        }
        if (!whole || torn) {
            summary.problems.push_back("log " + name + " line " + std::to_string(number) +
                                       " is not a whole entry: " + Around(line, 0));
            continue;
        }
        summary.lines.insert(line);
        CountEntry(line.substr(kStampLength + 2), summary);
    }
}

// Entries the engine could neither write nor keep, told as write problems
// ("24358.LOG <entry>", or a bare entry 38), count where the log lacks them.
void CountToldEntries(const std::vector<std::string>& told, LogSummary& summary) {
    for (const std::string& problem : told) {
        const bool entry = problem.size() > 10 + kStampLength + 6 &&
                           problem.compare(5, 5, ".LOG ") == 0 && IsStamp(problem, 10);
        if (entry && summary.lines.count(problem.substr(10)) == 0) {
            CountEntry(problem.substr(10 + kStampLength + 2), summary);
        } else if (problem.rfind("38  ", 0) == 0 && summary.told_38.count(problem) == 0) {
            CountEntry(problem, summary);
        }
    }
}

void CountEntry(const std::string& message, LogSummary& summary) {
    const int code = std::stoi(message.substr(0, 2));
    if (code == 38) {
        summary.counted_unwritten += NumberAfter(message, 4);
        summary.told_38.insert(message);
        return;
    }
    if (code == 39) {
        return;  // how many entries came late: the log's own, not asked for
    }
    ++summary.entries;
    if (code == 30 || code == 31 || code == 41) {
        const int64_t bytes = NumberAfter(message, 4);
        const size_t com = message.find("COM");
        if (com != std::string::npos) {
            summary.lost[static_cast<int>(NumberAfter(message, com))] += bytes;
        }
    }
    if (code == 44) {
        const size_t holds = message.find(" holds ");
        const size_t at = message.find(" at byte ");
        if (holds != std::string::npos && at != std::string::npos) {
            const std::string file = fs::path(message.substr(4, holds - 4)).filename().string();
            summary.parts_to_remove[file][NumberAfter(message, at)] = NumberAfter(message, holds);
        }
    }
    if (code == 20) {
        const size_t cut = message.find_last_of("/\\");
        std::string file = cut == std::string::npos ? message : message.substr(cut + 1);
        if (!file.empty() && file.back() == '.') {
            file.pop_back();
        }
        ++summary.writes[file];
    }
}

bool AtRisk(const Delivered& port, uint64_t offset) {
    for (const ByteRange& range : port.at_risk) {
        if (offset >= range.begin && offset < range.end) {
            return true;
        }
    }
    return false;
}

struct Missing {
    int64_t owed = 0;
    int64_t at_risk = 0;
    bool misaligned = false;  // a file's text did not line up: the counts say nothing
    std::string first;        // where the first owed byte was missed
};

// Lines the found text up with the hour's delivered text: every found byte
// must be the next delivered byte or a later one. A byte is taken as the
// next delivered one only when the few bytes after it follow as well, or
// when they can be found nowhere later (they straddle a gap), so that a gap
// is put where it is and not where a byte happens to repeat.
// Where the longest run shorter than `window` of `found` from `f` comes
// first in `delivered` from `e` on; npos when not even its first byte does.
size_t FindIsland(const std::string& delivered, size_t e, const std::string& found, size_t f,
                  size_t window) {
    for (size_t length = window - 1; length >= 1; --length) {
        const size_t at = delivered.find(found.data() + f, e, length);
        if (at != std::string::npos) {
            return at;
        }
    }
    return std::string::npos;
}

void Compare(const Delivered& port, const std::string& file, const HourText& expected,
             const std::vector<std::string>& runs, Missing& missing,
             std::vector<std::string>& findings) {
    constexpr size_t kWindow = 12;
    const std::string& delivered = expected.bytes;
    size_t e = 0;
    auto miss = [&](size_t k) {
        if (AtRisk(port, expected.offsets[k])) {
            ++missing.at_risk;
            return;
        }
        if (missing.owed++ == 0) {
            missing.first = "byte " + std::to_string(expected.offsets[k]) + " of COM" +
                            std::to_string(port.port_number) + " (delivered " +
                            TimeText(expected.times[k]) + ", " + Around(delivered, k) +
                            ") is not in " + file;
        }
    };
    size_t before = 0;  // bytes of the file's text in earlier runs
    for (const std::string& found : runs) {
        for (size_t f = 0; f < found.size();) {
            const size_t window = std::min(kWindow, found.size() - f);
            if (delivered.compare(e, window, found, f, window) == 0) {
                ++e;
                ++f;
                continue;
            }
            const size_t later = delivered.find(found.data() + f, e, window);
            if (later != std::string::npos) {
                // The byte is both the next delivered one and the one where
                // the found text goes on after a gap: the file cannot tell
                // which of the two equal bytes it holds. It is taken as the
                // owed one, and the gap as the text that was at risk.
                if (delivered[e] == found[f] && delivered[later] == found[f] &&
                    !AtRisk(port, expected.offsets[e]) && AtRisk(port, expected.offsets[later])) {
                    ++e;
                    ++f;
                    continue;
                }
                while (e < later) {
                    miss(e++);
                }
                continue;
            }
            if (e < delivered.size() && delivered[e] == found[f]) {
                ++e;
                ++f;
                continue;
            }
            // A few bytes between two gaps (a journal that refused the text
            // on either side of a short delivery) match no whole window:
            // they are looked for alone, at their first place later on.
            if (const size_t island = FindIsland(delivered, e, found, f, window);
                island != std::string::npos) {
                while (e < island) {
                    miss(e++);
                }
                continue;
            }
            findings.push_back(file + ": its text at byte " + std::to_string(before + f) + " " +
                               Around(found, f) + " was not delivered there (" +
                               std::to_string(found.size() - f) +
                               " bytes too many: added, doubled or out of order)");
            missing.misaligned = true;
            return;
        }
        before += found.size();
    }
    while (e < delivered.size()) {
        miss(e++);
    }
}

}  // namespace

std::vector<std::string> CheckAccounts(const Accounts& accounts) {
    std::vector<std::string> findings;
    LogSummary log;
    std::map<std::string, std::string> data_files;  // name -> path
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator(accounts.directory, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.size() == 7 + 4 && name.compare(7, 2, ".P") == 0) {
            data_files[name] = entry.path().string();
        } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".LOG") == 0) {
            ReadLog(entry.path().string(), accounts.files_crashes_caught.count(name) != 0, log);
        }
    }
    CountToldEntries(accounts.told_log_entries, log);
    findings.insert(findings.end(), log.problems.begin(), log.problems.end());

    for (const Delivered& port : accounts.ports) {
        std::map<std::string, HourText> hours;
        for (const DeliveredPiece& piece : port.pieces) {
            HourText& hour = hours[DataFileName(piece.time_ms, port.port_number)];
            hour.bytes += piece.bytes;
            for (size_t k = 0; k < piece.bytes.size(); ++k) {
                hour.offsets.push_back(piece.offset + k);
                hour.times.push_back(piece.time_ms);
            }
        }
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".P%02d", port.port_number);
        for (const auto& [name, path] : data_files) {
            if (name.compare(7, 4, suffix) == 0) {
                hours[name];  // a file of an hour without text must hold none
            }
        }
        Missing missing;
        for (const auto& [name, expected] : hours) {
            std::vector<std::string> found;
            if (const auto it = data_files.find(name); it != data_files.end()) {
                std::string content = testing_support::ReadFile(it->second);
                if (const auto parts = log.parts_to_remove.find(name);
                    parts != log.parts_to_remove.end()) {
                    for (auto part = parts->second.rbegin(); part != parts->second.rend(); ++part) {
                        if (static_cast<size_t>(part->first) >= content.size()) {
                            findings.push_back(name + ": entry 44 names bytes past its end");
                            continue;
                        }
                        content.erase(static_cast<size_t>(part->first),
                                      static_cast<size_t>(part->second));
                    }
                }
                // A crash between a file's making and its first write may
                // leave it empty; the next write to it gives it its head.
                const bool crash_caught = accounts.files_crashes_caught.count(name) != 0;
                const ParsedDataFile parsed =
                    content.empty() && crash_caught
                        ? ParsedDataFile{}
                        : ParseDataFile(content, port.instrument, crash_caught);
                for (const std::string& problem : parsed.problems) {
                    findings.push_back(name + " " + problem);
                }
                found = parsed.runs;
            }
            Compare(port, name, expected, found, missing, findings);
        }
        const int64_t counted = log.lost.count(port.port_number) ? log.lost[port.port_number] : 0;
        if (missing.misaligned) {
            continue;
        }
        if (counted < missing.owed) {
            findings.push_back("COM" + std::to_string(port.port_number) + ": " +
                               std::to_string(missing.owed - counted) +
                               " bytes are in no data file and counted by no loss entry (" +
                               std::to_string(missing.owed) + " missing, " +
                               std::to_string(counted) + " counted); the first: " + missing.first);
        } else if (counted > missing.owed + missing.at_risk) {
            findings.push_back("COM" + std::to_string(port.port_number) + ": the log counts " +
                               std::to_string(counted) + " bytes lost, but only " +
                               std::to_string(missing.owed + missing.at_risk) + " are missing");
        }
    }
    for (const auto& [name, count] : log.writes) {
        if (data_files.count(name) == 0 && name.find(".P") != std::string::npos) {
            findings.push_back("the log says " + name + " was written " + std::to_string(count) +
                               " times, but there is no such file");
        }
    }
    for (const auto& [name, path] : data_files) {
        bool known = false;
        for (const Delivered& port : accounts.ports) {
            char suffix[8];
            std::snprintf(suffix, sizeof suffix, ".P%02d", port.port_number);
            known = known || name.compare(7, 4, suffix) == 0;
        }
        if (!known) {
            findings.push_back(name + " belongs to no port that delivered text");
        }
    }
    const int64_t accounted = log.entries + log.counted_unwritten;
    if (accounted > accounts.log_entries_attempted ||
        accounted < accounts.log_entries_attempted - accounts.log_entries_forgotten) {
        findings.push_back("the log holds " + std::to_string(log.entries) + " entries and counts " +
                           std::to_string(log.counted_unwritten) +
                           " it could not write, but the engine asked for " +
                           std::to_string(accounts.log_entries_attempted) + " (" +
                           std::to_string(accounts.log_entries_forgotten) +
                           " of them forgotten by crashes)");
    }
    return findings;
}

}  // namespace simulation
