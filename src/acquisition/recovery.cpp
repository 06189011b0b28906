#include "acquisition/recovery.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "platform/files.h"

namespace {

using journal::Record;
using journal::RecordKind;
using journal::Span;
using journal::WriteIntent;

struct LoggedIntent {
    WriteIntent intent;
    // Its write failed and the file was put back as it was: it settles
    // nothing, and its file may since have grown by writes of a run that had
    // no journal, which must not be taken for what it left.
    bool undone = false;
};

struct ControlRecords {
    std::vector<LoggedIntent> intents;  // in journal order
    std::vector<Span> done;
    uint64_t end = 0;
};

ControlRecords ReadControlRecords(platform::DurableFile& file, const journal::Header& header,
                                  uint64_t begin) {
    ControlRecords found;
    journal::Reader reader(file);
    reader.Seek(header.epoch, begin);
    Record record;
    while (reader.Next(record)) {
        if (record.kind == RecordKind::kIntent) {
            WriteIntent intent;
            if (journal::DecodeIntent(record.payload, intent)) {
                found.intents.push_back({std::move(intent), false});
            }
        } else if (record.kind == RecordKind::kUndone) {
            // It follows the intent it voids.
            Span span;
            if (journal::DecodeSpan(record.payload, span) && !found.intents.empty() &&
                found.intents.back().intent.span == span) {
                found.intents.back().undone = true;
            }
        } else if (record.kind == RecordKind::kDone) {
            Span span;
            if (journal::DecodeSpan(record.payload, span)) {
                found.done.push_back(span);
            }
        }
    }
    found.end = reader.position();
    return found;
}

bool Listed(const std::vector<Span>& spans, const Span& span) {
    for (const Span& s : spans) {
        if (s == span) {
            return true;
        }
    }
    return false;
}


// True when the intent's bytes are in its file. Only a file's last intent
// can have left part of its bytes there: the write under way when the run
// ended, or one whose undo failed (nothing is written to a file after such a
// part until it is put back). A file it left part-written is put back as it
// was before it, durably (a file it was creating is removed, so that the next
// write makes it anew); when that fails, the undo is owed in `unfinished`.
bool Settle(const char* directory, const WriteIntent& intent, bool last_of_its_file,
            platform::UnfinishedAppends& unfinished) {
    const std::string path = platform::JoinPath(directory, intent.file_name);
    const int64_t found = platform::FileLength(path.c_str());
    if (found < 0) {
        return false;  // no file: nothing of it was written
    }
    const auto length = static_cast<uint64_t>(found);
    const uint64_t full = intent.length_before + intent.bytes_to_add;
    if (length >= full &&
        journal::CrcOfRange(path, intent.length_before, intent.bytes_to_add) == intent.crc) {
        if (intent.creates_file) {
            platform::SyncDirectory(directory);
        }
        // Should the sync fail, the bytes still stand: putting them back
        // would lose what the journal does not hold (text it never took).
        MakeDataFileDurable(path);
        return true;
    }
    const bool part_written = intent.creates_file || length > intent.length_before;
    if (last_of_its_file && length >= intent.length_before && length <= full && part_written) {
        unfinished.Owe(path, intent.creates_file, intent.length_before);
        unfinished.PutBack(path);
    }
    return false;
}

// Whether each intent was taken back: a later write to the same file began
// before its end, which a write that stood could not let happen. Its bytes
// may stand in the file all the same, as the start of that later write (the
// same block again, with more text), and must not be taken for its own.
std::vector<bool> TakenBackByLaterWrites(const std::vector<LoggedIntent>& intents) {
    std::vector<bool> taken_back(intents.size(), false);
    std::map<std::string, uint64_t> earliest_later_start;
    for (size_t i = intents.size(); i-- > 0;) {
        const WriteIntent& intent = intents[i].intent;
        const auto it = earliest_later_start.find(intent.file_name);
        taken_back[i] = it != earliest_later_start.end() &&
                        it->second < intent.length_before + intent.bytes_to_add;
        const uint64_t start = intent.creates_file ? 0 : intent.length_before;
        if (it == earliest_later_start.end() || start < it->second) {
            earliest_later_start[intent.file_name] = start;
        }
    }
    return taken_back;
}

// For each data file, the index of its last intent.
std::map<std::string, size_t> LastIntentOfEachFile(const std::vector<LoggedIntent>& intents) {
    std::map<std::string, size_t> last;
    for (size_t i = 0; i < intents.size(); ++i) {
        last[intents[i].intent.file_name] = i;
    }
    return last;
}

int64_t HourOf(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    return seconds >= 0 ? seconds / 3600 : (seconds - 3599) / 3600;
}

platform::SystemTime TimeOf(int64_t ms) {
    const int64_t seconds = ms >= 0 ? ms / 1000 : (ms - 999) / 1000;
    return platform::ToSystemTime(seconds, static_cast<int>(ms - seconds * 1000));
}

// Adds a text record to the pieces: to the last one while the hour is the
// same, else as the start of a new one. Only what the markers and the log
// need of its text is kept.
void AddToPieces(std::vector<RecoveredText>& pieces, int64_t& piece_hour, const Record& record) {
    const int64_t hour = HourOf(record.time_ms);
    if (pieces.empty() || hour != piece_hour) {
        RecoveredText piece{};
        piece.hour = platform::BreakDownUtc(hour * 3600);
        piece.first_received = TimeOf(record.time_ms);
        piece.span.begin = record.offset;
        piece.first_byte = record.payload.front();
        pieces.push_back(piece);
        piece_hour = hour;
    }
    RecoveredText& piece = pieces.back();
    piece.length += static_cast<int64_t>(record.payload.size());
    piece.last_byte = record.payload.back();
    piece.last_received = TimeOf(record.time_ms);
    piece.span.end = record.end;
}

}  // namespace

void WrittenSpans::Settle() {
    std::sort(spans_.begin(), spans_.end(),
              [](const Span& a, const Span& b) { return a.begin < b.begin; });
    std::vector<Span> joined;
    for (const Span& span : spans_) {
        if (span.empty()) {
            continue;
        }
        if (!joined.empty() && span.begin <= joined.back().end) {
            joined.back().end = std::max(joined.back().end, span.end);
        } else {
            joined.push_back(span);
        }
    }
    spans_ = std::move(joined);
}

bool WrittenSpans::Holds(uint64_t offset) const {
    // The last span that begins at or before `offset`.
    auto after = std::upper_bound(spans_.begin(), spans_.end(), offset,
                                  [](uint64_t at, const Span& span) { return at < span.begin; });
    return after != spans_.begin() && std::prev(after)->Holds(offset);
}

bool MakeDataFileDurable(const std::string& path) {
    platform::SetReadOnly(path.c_str(), false);
    platform::DurableFile file;
    const bool synced = file.Open(path) && file.Sync();
    file.Close();
    platform::SetReadOnly(path.c_str(), true);
    return synced;
}

Leftovers ReadLeftovers(platform::DurableFile& file, const journal::Header& header,
                        uint64_t records_begin, const char* directory) {
    ControlRecords control = ReadControlRecords(file, header, records_begin);
    Leftovers leftovers;
    const std::map<std::string, size_t> last = LastIntentOfEachFile(control.intents);
    const std::vector<bool> taken_back = TakenBackByLaterWrites(control.intents);
    for (size_t i = 0; i < control.intents.size(); ++i) {
        const WriteIntent& intent = control.intents[i].intent;
        // An intent without a span wrote text the journal did not hold.
        const bool spanless = intent.span.empty();
        if (!control.intents[i].undone && !taken_back[i] &&
            (spanless || !Listed(control.done, intent.span)) &&
            Settle(directory, intent, last.at(intent.file_name) == i, leftovers.unfinished) &&
            !spanless) {
            control.done.push_back(intent.span);
        }
    }

    leftovers.end = control.end;
    for (const Span& span : control.done) {
        leftovers.written.Add(span);
    }
    leftovers.written.Settle();
    journal::Reader reader(file);
    reader.Seek(header.epoch, records_begin);
    Record record;
    int64_t piece_hour = 0;
    while (reader.position() < control.end && reader.Next(record)) {
        if (record.kind == RecordKind::kText && !record.payload.empty() &&
            !leftovers.written.Holds(record.offset)) {
            AddToPieces(leftovers.pieces, piece_hour, record);
        }
    }
    return leftovers;
}
