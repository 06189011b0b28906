#include "acquisition/data_files.h"

#include <atomic>
#include <cstdio>
#include <memory>
#include <set>
#include <utility>

#include "acquisition/rescue.h"
#include "acquisition/unfinished_writes.h"
#include "instruments/exchanges.h"
#include "log/log_codes.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/files.h"

namespace {

std::string FileNameOf(const std::string& path) {
    const size_t cut = path.find_last_of(platform::kPathSeparator);
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

// The start marker, on a line of its own unless the text begins one.
std::string StartMarker(const platform::SystemTime& time, char first_byte) {
    std::string marker = TimeMarker(time, "StartTime");
    if (first_byte != '\n') {
        marker += '\n';
    }
    return marker;
}

// True when `block`'s text begins in a journal that no longer holds it.
bool JournalPartLost(const DataBlock& block, const TextJournal* journal) {
    return block.text_in_journal && (journal == nullptr || !journal->Holds(block.span));
}

// Why the text that only a journal held is gone.
std::string LossReason(const TextJournal* journal) {
    if (journal == nullptr) {
        return "no journal";
    }
    return journal->GivenUpBecause().empty() ? "the journal was closed" : journal->GivenUpBecause();
}

std::atomic<int64_t> g_bytes_given_up{0};

// Received text given up is told at once where the operator looks (standard
// error of the headless run), besides the log that may be the very file that
// cannot be written, and counted for the run's exit status.
void TellGivenUp(int port_number, const DataBlock& block, int64_t bytes, const char* reason) {
    g_bytes_given_up += bytes;
    char text[256];
    std::snprintf(text, sizeof text,
                  "%lld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d are lost (%s)",
                  static_cast<long long>(bytes), port_number, block.start_time.wHour,
                  block.start_time.wMinute, block.start_time.wSecond, block.stop_time.wHour,
                  block.stop_time.wMinute, block.stop_time.wSecond, reason);
    ReportWriteProblem(text);
}

// How many bytes of text a kept block stands for.
int64_t KeptLength(const DataBlock& block) {
    return block.text_in_journal ? block.text_length : static_cast<int64_t>(block.text.size());
}

}  // namespace

int64_t FirstPeriodEnd(int period_seconds) {
    const int64_t now = platform::Now();
    const std::tm t = platform::BreakDownUtc(now);
    int64_t end = now - (t.tm_min * 60 + t.tm_sec);
    while (end <= platform::Now()) {
        end += period_seconds;
    }
    return end;
}

std::string DataFilePath(const char* directory, const std::tm& file_name_time, int port_number) {
    char extension[8];
    std::snprintf(extension, sizeof extension, ".P%02d", port_number);
    return platform::JoinPath(directory, HourFileStem(file_name_time) + extension);
}

std::string TimeMarker(const platform::SystemTime& time, const char* word) {
    return StationStamp(time) + " " + word;
}

namespace {

void TellDataFileNotWritten(const char* directory, const char* path) {
    WriteLogMessagef(directory, logmsg::k19CantOpen, path);
    ReportWriteProblem(std::string("cannot write the data file ") + path);
}

}  // namespace

bool WriteDataBlock(const char* directory, const DataBlock& block, std::string_view text,
                    TextJournal* journal, platform::UnfinishedAppends& unfinished, bool keep_span) {
    // A file never claims text it lacks: what only a journal held, and the
    // journal no longer holds, is left to the caller to count.
    if (JournalPartLost(block, journal)) {
        return false;
    }
    const char* path = block.path.c_str();
    // Part of a failed write still in the file goes first: the bytes chosen
    // below depend on whether the file exists, and none may follow that part.
    if (!unfinished.PutBack(block.path)) {
        TellDataFileNotWritten(directory, path);
        return false;
    }
    // An empty file (a crash caught it between its making and its first
    // write) gets its head like a new one.
    const bool existed = platform::FileLength(path) > 0;
    platform::TextPieces bytes;
    if (!existed) {
        bytes.Add(block.creation_items);
    }
    if (!existed || block.start_marker_due) {
        bytes.Add(block.start_marker);
    }
    // A long period's text comes from the journal, a piece at a time.
    std::unique_ptr<platform::AppendSource> journaled;
    if (block.text_in_journal) {
        journaled = journal->ReadText(block.span,
                                      static_cast<uint64_t>(block.text_length) - text.size(), text);
        bytes.AddSource(*journaled);
    } else {
        bytes.Add(text);
    }
    bytes.Add(block.end_marker);
    // Text that the journal lacks (received while it could not take it) is
    // written under an intent as well, so that a crash cannot leave half of
    // it in the file.
    const bool journaled_block = journal != nullptr;
    bool intent_recorded = false;
    auto record_intent = [&](uint64_t length_before) {
        intent_recorded =
            !journaled_block || journal->RecordIntent(block.span, FileNameOf(block.path),
                                                      length_before, !existed, bytes);
        // A journal given up for want of room for the intent takes with it
        // the text that only it held.
        return intent_recorded && !JournalPartLost(block, journal);
    };
    platform::AppendOptions options;
    options.sync = true;  // the journal lets go of the text only once it is on disk
    // A new file's intent comes before the file, so that a crash can never
    // leave an empty file that a restart would take for an old one.
    options.before_create = [&] { return record_intent(0); };
    options.before_write = [&](uint64_t length_before) {
        return intent_recorded || record_intent(length_before);
    };
    options.unfinished = &unfinished;
    if (platform::AppendToFile(path, bytes, options) != platform::kAppendOk) {
        if (journaled_block && intent_recorded) {
            journal->WriteFailed(block.span);
        }
        if (JournalPartLost(block, journal)) {
            return false;
        }
        TellDataFileNotWritten(directory, path);
        return false;
    }
    // Only a write that is on disk is logged as one.
    WriteLogMessagef(directory, logmsg::k20DiskWrite, path);
    if (journaled_block && !keep_span) {
        journal->Forget(block.span);
    }
    if (block.recovered) {
        WriteLogMessagef(directory, logmsg::k34Recovered, static_cast<long>(block.text_length),
                         block.port_number, block.start_time.wHour, block.start_time.wMinute,
                         block.start_time.wSecond, block.stop_time.wHour, block.stop_time.wMinute,
                         block.stop_time.wSecond);
    }
    return true;
}

DataBlock RecoveredBlock(const char* directory, int port_number, const std::string& instrument,
                         const RecoveredText& piece) {
    DataBlock block;
    block.port_number = port_number;
    block.path = DataFilePath(directory, piece.hour, port_number);
    block.creation_items = instrument + "\n";
    block.start_marker = TimeMarker(piece.first_received, "StartTime");
    if (piece.length < 1 || piece.first_byte != '\n') {
        block.start_marker += '\n';
    }
    block.start_marker_due = true;
    if (piece.length < 1 || piece.last_byte != '\n') {
        block.end_marker.push_back('\n');
    }
    block.end_marker += TimeMarker(piece.last_received, "EndTime");
    block.end_marker += '\n';
    block.start_time = piece.first_received;
    block.stop_time = piece.last_received;
    block.span = piece.span;
    block.text_in_journal = true;
    block.text_length = piece.length;
    block.recovered = true;
    return block;
}

DataFileWriter::DataFileWriter(const ComConfig& config, size_t unwritten_cap_bytes)
    : config_(config),
      cap_(unwritten_cap_bytes),
      ports_(static_cast<size_t>(config.NumPorts)) {}

DataFileWriter::~DataFileWriter() = default;

void DataFileWriter::AttachJournal(int position, TextJournal* journal) {
    Port(position).journal = journal;
}

void DataFileWriter::DetachJournals() {
    for (PortFiles& port : ports_) {
        port.journal = nullptr;
    }
}

void DataFileWriter::WriteRecovered(int position, const std::vector<RecoveredText>& pieces) {
    auto& kept = Port(position).unwritten;
    std::deque<DataBlock> recovered;
    for (const RecoveredText& piece : pieces) {
        recovered.push_back(RecoveredBlock(config_.OutputDriveAndPath, config_.PortNumber[position],
                                           config_.InstrumentType[position], piece));
    }
    kept.insert(kept.begin(), std::make_move_iterator(recovered.begin()),
                std::make_move_iterator(recovered.end()));
    WriteUnwritten(position);
}

DataBlock DataFileWriter::MakeBlock(const FlushContext& context, const PortPeriodText& period,
                                    const LongPeriod& long_period) const {
    const int p = period.position;
    DataBlock block;
    block.port_number = config_.PortNumber[p];
    block.path =
        DataFilePath(config_.OutputDriveAndPath, context.file_name_time, config_.PortNumber[p]);
    block.creation_items = config_.InstrumentType[p];
    block.creation_items += '\n';
    if (WritesFileHeader(config_.AcquisitionInitializationFunction[p]) &&
        period.header != nullptr) {
        block.creation_items += period.header;
    }
    const bool is_long = long_period.length > 0;
    const char first = is_long ? long_period.first_byte : period.text[0];
    const char last = is_long ? long_period.last_byte : period.text[period.length - 1];
    block.start_marker = StartMarker(period.start_time, first);
    block.start_marker_due = context.first_flush;
    if (context.end_marker_due) {
        if (last != '\n') {
            block.end_marker.push_back('\n');
        }
        block.end_marker += TimeMarker(period.stop_time, "EndTime");
        block.end_marker += '\n';
    }
    block.start_time = period.start_time;
    block.stop_time = period.stop_time;
    return block;
}

// A file that cannot be written holds back only its own later blocks: the
// blocks of other files (a later hour) are written as soon as they can be,
// and each file still receives its blocks in the order they were received.
std::set<std::string> DataFileWriter::WriteUnwritten(int position) {
    auto& kept = Port(position).unwritten;
    std::set<std::string> blocked;
    for (auto it = kept.begin(); it != kept.end();) {
        const size_t in_memory = it->text.size();
        const Written written =
            blocked.count(it->path) == 0 ? Write(position, *it, it->text) : Written::kNo;
        if (written == Written::kNo) {
            blocked.insert(it->path);
            ++it;
            continue;
        }
        Port(position).unwritten_bytes -= in_memory;
        it = kept.erase(it);
    }
    return blocked;
}

DataFileWriter::Written DataFileWriter::Write(int position, DataBlock& block, std::string_view text,
                                              bool keep_span) {
    const Written written = WriteThroughJournal(position, block, text, keep_span);
    NoteUnfinishedWritesIfChanged();
    return written;
}

// The undos owed outlive the run in a note, should it end before they can be
// made (see unfinished_writes.h).
bool DataFileWriter::NoteUnfinishedWritesIfChanged() {
    if (unfinished_.owed() == noted_) {
        return true;
    }
    if (!NoteUnfinishedWrites(config_.OutputDriveAndPath, unfinished_)) {
        return false;
    }
    noted_ = unfinished_.owed();
    return true;
}

void DataFileWriter::TellUnfinishedWritesLeft() {
    for (const auto& [path, undo] : unfinished_.owed()) {
        const int64_t length = platform::FileLength(path.c_str());
        const uint64_t from = undo.remove ? 0 : undo.length;
        if (length < 0 || static_cast<uint64_t>(length) <= from) {
            continue;
        }
        const auto bytes = static_cast<long>(static_cast<uint64_t>(length) - from);
        WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k44FailedWriteLeft, path.c_str(),
                         bytes, static_cast<long>(from));
        char text[512];
        std::snprintf(text, sizeof text,
                      "%s holds %ld bytes of a failed write at byte %ld that could not be taken "
                      "out: remove them by hand",
                      path.c_str(), bytes, static_cast<long>(from));
        ReportWriteProblem(text);
    }
}

DataFileWriter::Written DataFileWriter::WriteThroughJournal(int position, DataBlock& block,
                                                            std::string_view text, bool keep_span) {
    const char* directory = config_.OutputDriveAndPath;
    if (WriteDataBlock(directory, block, text, JournalOf(position), unfinished_, keep_span)) {
        return Written::kYes;
    }
    if (!JournalLost(position, block)) {
        return Written::kNo;
    }
    if (!LoseJournalPart(position, block, text)) {
        return Written::kNothingLeft;
    }
    return WriteDataBlock(directory, block, text, JournalOf(position), unfinished_) ? Written::kYes
                                                                                    : Written::kNo;
}

bool DataFileWriter::JournalLost(int position, const DataBlock& block) const {
    return JournalPartLost(block, JournalOf(position));
}

bool DataFileWriter::LoseJournalPart(int position, DataBlock& block, std::string_view text) {
    const int64_t lost = block.text_length - static_cast<int64_t>(text.size());
    if (lost > 0) {
        const std::string reason = LossReason(JournalOf(position));
        WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k41LostWithJournal,
                         static_cast<long>(lost), block.port_number, block.start_time.wHour,
                         block.start_time.wMinute, block.start_time.wSecond, block.stop_time.wHour,
                         block.stop_time.wMinute, block.stop_time.wSecond, reason.c_str());
        TellGivenUp(block.port_number, block, lost, ("lost with its journal: " + reason).c_str());
    }
    block.text_in_journal = false;
    block.text_length = static_cast<int64_t>(text.size());
    if (text.empty()) {
        return false;
    }
    block.start_marker = StartMarker(block.start_time, text.front());
    return true;
}

void DataFileWriter::CountKeptTextLostWithJournal(int position) {
    auto& kept = Port(position).unwritten;
    for (auto it = kept.begin(); it != kept.end();) {
        if (const TextJournal* journal = JournalOf(position);
            journal != nullptr && journal->KeepsForNextStart(it->span)) {
            ++it;  // not lost while the journal cannot be removed (see LeaveToNextStart)
            continue;
        }
        if (JournalLost(position, *it) && !LoseJournalPart(position, *it, it->text)) {
            it = kept.erase(it);  // nothing of it was in memory
            continue;
        }
        // A journal opened again after it was given up hands out the same
        // spans anew: a lost one must not be taken for one of them.
        const TextJournal* journal = JournalOf(position);
        if (journal != nullptr && !it->span.empty() && !journal->Holds(it->span)) {
            it->span = {};
        }
        ++it;
    }
}

void DataFileWriter::EndPeriod(int position) {
    std::optional<TextJournal::Period>& ended = Port(position).ended;
    if (ended.has_value()) {
        return;
    }
    TextJournal* journal = JournalOf(position);
    ended = journal != nullptr ? journal->EndPeriod() : TextJournal::Period{};
}

void DataFileWriter::WritePort(const FlushContext& context, const PortPeriodText& period,
                               const LongPeriod& long_period) {
    const int p = period.position;
    EndPeriod(p);
    const TextJournal::Period journaled = Port(p).ended.value();
    Port(p).ended.reset();
    Port(p).long_period = LongPeriodInJournal{};
    const std::set<std::string> blocked = WriteUnwritten(p);
    if (period.length < 1 && long_period.length < 1) {
        WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k21NoData, config_.PortNumber[p],
                         period.start_time.wHour, period.start_time.wMinute,
                         period.start_time.wSecond, period.stop_time.wHour,
                         period.stop_time.wMinute, period.stop_time.wSecond);
    } else {
        WritePeriod(context, period, long_period, journaled, blocked);
    }
    // A journal given up by one of these writes took with it the text of
    // kept blocks that only it held.
    CountKeptTextLostWithJournal(p);
}

void DataFileWriter::WritePeriod(const FlushContext& context, const PortPeriodText& period,
                                 const LongPeriod& long_period,
                                 const TextJournal::Period& journaled,
                                 const std::set<std::string>& blocked) {
    const int p = period.position;
    DataBlock block = MakeBlock(context, period, long_period);
    block.span = journaled.span;
    block.journal_missing = journaled.missing;
    block.text_in_journal = long_period.length > 0;
    block.text_length = block.text_in_journal ? long_period.length : period.length;
    // All of a period, or the latest part of a long one.
    const std::string_view in_memory(period.text, static_cast<size_t>(period.length));
    // Text of this file still waiting from earlier periods goes first, so a
    // file never receives a later period before an earlier one.
    Written written = Written::kNo;
    if (blocked.count(block.path) == 0) {
        written = Write(p, block, in_memory, block.text_in_journal);
    } else if (JournalLost(p, block) && !LoseJournalPart(p, block, in_memory)) {
        written = Written::kNothingLeft;
    }
    if (written == Written::kNothingLeft) {
        return;
    }
    if (block.text_in_journal) {
        // The statistics read it again; ForgetLongPeriods lets it go then.
        Port(p).long_period = LongPeriodInJournal{
            block.span, block.text_length - static_cast<int64_t>(in_memory.size())};
    }
    if (written == Written::kYes) {
        return;
    }
    // A long period that the journal holds whole costs no memory while kept;
    // one whose latest part the journal could not all take keeps that part.
    if (!block.text_in_journal || block.journal_missing > 0) {
        block.text.assign(in_memory);
    }
    Keep(p, std::move(block));
}

std::unique_ptr<platform::AppendSource> DataFileWriter::LongPeriodText(int position,
                                                                       std::string_view in_memory) {
    const LongPeriodInJournal& period = Port(position).long_period;
    TextJournal* journal = JournalOf(position);
    if (period.span.empty() || journal == nullptr || !journal->Holds(period.span)) {
        return nullptr;
    }
    return journal->ReadText(period.span, static_cast<uint64_t>(period.journal_part), in_memory);
}

void DataFileWriter::ForgetLongPeriods() {
    for (size_t p = 0; p < ports_.size(); ++p) {
        const journal::Span span = ports_[p].long_period.span;
        ports_[p].long_period = LongPeriodInJournal{};
        if (span.empty() || ports_[p].journal == nullptr) {
            continue;
        }
        // A period still kept unwritten goes when it is written.
        bool kept = false;
        for (const DataBlock& block : ports_[p].unwritten) {
            kept = kept || block.span == span;
        }
        if (!kept) {
            ports_[p].journal->Forget(span);
        }
    }
}

// Only text in memory counts against the cap, and only such text is given
// up, oldest first: a long period whose text is in the journal costs none.
void DataFileWriter::Keep(int position, DataBlock block) {
    const auto p = static_cast<size_t>(position);
    ports_[p].unwritten_bytes += block.text.size();
    auto& kept = ports_[p].unwritten;
    kept.push_back(std::move(block));
    for (auto it = kept.begin(); ports_[p].unwritten_bytes > cap_ && it != kept.end();) {
        if (it->text.empty()) {
            ++it;
            continue;
        }
        char reason[96];
        std::snprintf(reason, sizeof reason, "more than %zu bytes waiting", cap_);
        GiveUp(position, *it, reason);
        if (TextJournal* journal = JournalOf(position); journal != nullptr && !it->span.empty()) {
            journal->Forget(it->span);
        }
        ports_[p].unwritten_bytes -= it->text.size();
        it = kept.erase(it);
    }
}

void DataFileWriter::Discard(int position, const DataBlock& block, int64_t bytes,
                             const char* reason) {
    WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k30UnwrittenDiscarded,
                     static_cast<long>(bytes), config_.PortNumber[position], block.start_time.wHour,
                     block.start_time.wMinute, block.start_time.wSecond, block.stop_time.wHour,
                     block.stop_time.wMinute, block.stop_time.wSecond, reason);
    TellGivenUp(config_.PortNumber[position], block, bytes, reason);
}

// Text that only memory holds can be rescued; every rescued block says when
// it was received, also where its data file would have gone on without a marker.
std::string DataFileWriter::Rescue(const DataBlock& block) {
    if (block.text_in_journal || block.text.empty()) {
        return {};
    }
    const std::string start_marker = block.start_marker.empty()
                                         ? StartMarker(block.start_time, block.text.front())
                                         : block.start_marker;
    return RescueBlock({FileNameOf(block.path), block.creation_items, start_marker, block.text,
                        block.end_marker});
}

void DataFileWriter::GiveUp(int position, const DataBlock& block, const char* reason) {
    const std::string rescued = Rescue(block);
    if (rescued.empty()) {
        Discard(position, block, KeptLength(block), reason);
        return;
    }
    const auto bytes = static_cast<long>(block.text.size());
    WriteLogMessagef(config_.OutputDriveAndPath, logmsg::k43KeptInRescue, bytes,
                     block.port_number, block.start_time.wHour, block.start_time.wMinute,
                     block.start_time.wSecond, block.stop_time.wHour, block.stop_time.wMinute,
                     block.stop_time.wSecond, rescued.c_str(), reason);
    char text[512];
    std::snprintf(text, sizeof text,
                  "%ld bytes of COM%d received %02d:%02d:%02d to %02d:%02d:%02d could not be "
                  "written and are kept in %s (%s)",
                  bytes, block.port_number, block.start_time.wHour, block.start_time.wMinute,
                  block.start_time.wSecond, block.stop_time.wHour, block.stop_time.wMinute,
                  block.stop_time.wSecond, rescued.c_str(), reason);
    ReportWriteProblem(text);
}

void DataFileWriter::KeepUnwrittenAtStop() {
    // Part of a failed write still in its file would outlive the process:
    // its undo is tried once more, and what is still owed is left to the
    // next start in the note (entry 44 when even that fails).
    unfinished_.PutBackAll();
    if (!NoteUnfinishedWritesIfChanged()) {
        TellUnfinishedWritesLeft();
    }
    for (size_t p = 0; p < ports_.size(); ++p) {
        const int position = static_cast<int>(p);
        LeaveToNextStart(position);
        CountKeptTextLostWithJournal(position);
        const TextJournal* journal = JournalOf(position);
        for (const DataBlock& block : ports_[p].unwritten) {
            // What the journal took of it (perhaps nothing) is still there,
            // unless the journal has been given up since.
            const bool journal_keeps =
                journal != nullptr && (block.span.empty() ? journal->GivenUpBecause().empty()
                                                          : journal->Holds(block.span));
            // Text that only memory holds is given up whole (perhaps to the
            // rescue directory); of the rest only what the journal lacks.
            const bool journal_took_none =
                !block.text_in_journal && block.journal_missing == block.text.size();
            if (!journal_keeps) {
                GiveUp(position, block, "acquisition stopped");
            } else if (journal_took_none && !block.text.empty()) {
                GiveUp(position, block, "acquisition stopped; the journal could not take them");
            } else if (block.journal_missing > 0) {
                // The rest waits in the journal for the next start.
                Discard(position, block, static_cast<int64_t>(block.journal_missing),
                        "acquisition stopped; the journal could not take them");
            }
        }
        ports_[p].unwritten.clear();
        ports_[p].unwritten_bytes = 0;
    }
}

// A block whose text stays in a journal that could not be removed is found
// there by the next start, which writes it: it is neither lost nor written now.
// Only what the journal never took of it is lost.
void DataFileWriter::LeaveToNextStart(int position) {
    auto& kept = Port(position).unwritten;
    const TextJournal* journal = JournalOf(position);
    for (auto it = kept.begin(); journal != nullptr && it != kept.end();) {
        if (!journal->KeepsForNextStart(it->span)) {
            ++it;
            continue;
        }
        if (it->journal_missing > 0) {
            Discard(position, *it, static_cast<int64_t>(it->journal_missing),
                    "acquisition stopped; the journal could not take them");
        }
        it = kept.erase(it);
    }
}

void DataFileWriter::DiscardUnwritten(const char* reason) {
    for (size_t p = 0; p < ports_.size(); ++p) {
        for (const DataBlock& block : ports_[p].unwritten) {
            GiveUp(static_cast<int>(p), block, reason);
        }
        ports_[p].unwritten.clear();
        ports_[p].unwritten_bytes = 0;
    }
}

int64_t ReceivedBytesGivenUp() {
    return g_bytes_given_up.load();
}

size_t DataFileWriter::UnwrittenBytes(int position) const {
    return Port(position).unwritten_bytes;
}
