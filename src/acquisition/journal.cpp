#include "acquisition/journal.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <system_error>

#include "log/log_codes.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace {

std::atomic<bool> g_enabled{true};
std::atomic<int64_t> g_writes{0};
std::atomic<int64_t> g_syncs{0};
std::atomic<JournalCheckpoint> g_checkpoint{nullptr};

// The feeds by journal path. Taken for a moment by the acquisition thread at
// every append and cut, and by a follower now and then: never for long.
struct Feed {
    JournalFeed counts;
    bool followed = false;
    std::deque<FeedText> recent;  // the latest text, while followed
    uint64_t recent_begin = 0;    // the position of its first byte
    size_t recent_bytes = 0;
};
std::mutex g_feeds_mutex;
std::function<void()> g_feed_waker;  // under g_feeds_mutex
std::map<std::string, Feed>& Feeds() {
    static std::map<std::string, Feed> feeds;
    return feeds;
}

void FeedAppended(const std::string& path, const char* bytes, size_t count, int64_t received_ms) {
    std::function<void()> waker;
    {
        const std::lock_guard<std::mutex> lock(g_feeds_mutex);
        Feed& feed = Feeds()[path];
        feed.counts.text_total += count;
        if (!feed.followed) {
            return;
        }
        feed.recent.push_back({received_ms, std::string(bytes, count)});
        feed.recent_bytes += count;
        while (feed.recent_bytes > kFeedRecentBytes) {
            feed.recent_bytes -= feed.recent.front().bytes.size();
            feed.recent_begin += feed.recent.front().bytes.size();
            feed.recent.pop_front();
        }
        waker = g_feed_waker;
    }
    if (waker) {
        waker();
    }
}

void FeedRefused(const std::string& path, size_t count) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    Feeds()[path].counts.refused_total += count;
}

void FeedEpoch(const std::string& path, uint32_t epoch) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    JournalFeed& feed = Feeds()[path].counts;
    feed.epoch = epoch;
    feed.text_before_epoch = feed.text_total;
}

void Checkpoint(const char* point, int port_number, int64_t value = 0) {
    if (JournalCheckpoint checkpoint = g_checkpoint.load()) {
        checkpoint(point, port_number, value);
    }
}

// Entry 19 for a journal the disk refuses, told also where the operator
// looks: until it can be written again, the port's text is in memory only.
void TellJournalRefused(const char* directory, const std::string& path) {
    WriteLogMessagef(directory, logmsg::k19CantOpen, path.c_str());
    ReportWriteProblem("cannot write the journal " + path +
                       "; until it can be, received text is only in memory");
}

int64_t UtcMs() {
    const platform::SystemTime now = platform::UtcNow();
    return platform::ToCalendarSeconds(now) * 1000 + now.wMilliseconds;
}

// "COM1" to "COM9" name serial devices on Windows in every folder.
constexpr char kFilePrefix[] = "Port";
constexpr size_t kPrefixLength = sizeof kFilePrefix - 1;

// True for a data file's name: <yy><ddd><hh>.P<nn>.
bool IsDataFileName(const std::string& name) {
    const size_t dot = name.find(".P");
    if (dot != 7 || name.size() < dot + 4) {
        return false;
    }
    for (size_t i = 0; i < name.size(); ++i) {
        if (i != dot && i != dot + 1 && (name[i] < '0' || name[i] > '9')) {
            return false;
        }
    }
    return true;
}

// True for a data file without a single line end: empty, or a power cut
// tore the write that was creating it inside its instrument line (which its
// creation writes whole before anything else).
bool HoldsNoWholeLine(const std::string& path) {
    constexpr int64_t kLongestInstrumentLine = 512;  // the configuration allows 500 characters
    const int64_t length = platform::FileLength(path.c_str());
    if (length == 0) {
        return true;
    }
    if (length < 0 || length > kLongestInstrumentLine) {
        return false;
    }
    std::string text(static_cast<size_t>(length), '\0');
    std::ifstream file(path, std::ios::binary);
    return file.read(text.data(), static_cast<std::streamsize>(length)) &&
           text.find('\n') == std::string::npos;
}

// How long the system may keep what a process wrote in its cache before it
// writes it to the disk by itself (Linux: 30 s), with room to spare.
constexpr auto kSystemWriteBackDelay = std::chrono::minutes(5);

// What a run that died left in its data and statistics files. A data file is never left
// empty by a write that had an intent (a restart removes one that the write
// was creating); one without (the port had no journal) that a crash cut off
// before its first byte leaves one, which holds nothing and would lack its
// instrument line if nothing else came: it goes. What the dead run wrote
// last may still be only in the system's cache, where a power cut now would
// tear it (its write had no intent to tell): recent files are made durable.
void SettleDataFilesAtStart(const char* directory) {
    std::error_code ec;
    const auto now = std::filesystem::file_time_type::clock::now();
    for (const auto& entry : std::filesystem::directory_iterator(directory, ec)) {
        const std::string path = entry.path().string();
        const std::string name = entry.path().filename().string();
        const bool statistics = name.size() == 11 && name.compare(7, 4, ".sta") == 0;
        if (!IsDataFileName(name) && !statistics) {
            continue;
        }
        if (!statistics && HoldsNoWholeLine(path)) {
            platform::RemoveFile(path.c_str());
        } else if (std::error_code time_error;
                   now - entry.last_write_time(time_error) < kSystemWriteBackDelay && !time_error) {
            MakeDataFileDurable(path);
        }
    }
    platform::SyncDirectory(directory);
}

// The COM number of a journal's file name ("Port12" gives 12), or 0.
int PortNumberOfFile(const std::string& name) {
    if (name.rfind(kFilePrefix, 0) != 0 || name.size() == kPrefixLength ||
        name.size() > kPrefixLength + 5) {
        return 0;
    }
    int number = 0;
    for (size_t i = kPrefixLength; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9') {
            return 0;
        }
        number = number * 10 + (name[i] - '0');
    }
    return number;
}

}  // namespace

void SetReceivedTextJournalEnabled(bool enabled) {
    g_enabled.store(enabled);
}

JournalFeed ReadJournalFeed(const std::string& path) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    const auto found = Feeds().find(path);
    return found == Feeds().end() ? JournalFeed{} : found->second.counts;
}

void FollowJournalFeed(const std::string& path, bool follow) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    Feed& feed = Feeds()[path];
    feed.followed = follow;
    feed.recent.clear();
    feed.recent_bytes = 0;
    feed.recent_begin = feed.counts.text_total;
}

void SetJournalFeedWaker(std::function<void()> waker) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    g_feed_waker = std::move(waker);
}

bool ReadJournalFeedText(const std::string& path, uint64_t from, uint64_t to,
                         std::vector<FeedText>& out) {
    const std::lock_guard<std::mutex> lock(g_feeds_mutex);
    const auto found = Feeds().find(path);
    if (found == Feeds().end() || from < found->second.recent_begin ||
        to > found->second.counts.text_total) {
        return from == to;
    }
    uint64_t at = found->second.recent_begin;
    for (const FeedText& piece : found->second.recent) {
        const uint64_t end = at + piece.bytes.size();
        if (end > from && at < to) {
            const uint64_t begin = std::max(at, from);
            const uint64_t stop = std::min(end, to);
            out.push_back({piece.received_ms, piece.bytes.substr(begin - at, stop - begin)});
        }
        at = end;
    }
    return true;
}

JournalActivity ReadJournalActivity() {
    return {g_writes.load(), g_syncs.load()};
}

void SetJournalCheckpoint(JournalCheckpoint checkpoint) {
    g_checkpoint.store(checkpoint);
}

std::string JournalPath(const char* directory, int port_number) {
    return platform::JoinPath(JournalFolderPath(directory),
                              kFilePrefix + std::to_string(port_number));
}

PortJournal::PortJournal(const char* directory, int port_number, std::string instrument)
    : directory_(directory),
      port_number_(port_number),
      instrument_(std::move(instrument)),
      path_(JournalPath(directory, port_number)) {}

PortJournal::~PortJournal() {
    Close();
}

bool PortJournal::Open(Leftovers& leftovers) {
    const std::string folder = JournalFolderPath(directory_.c_str());
    std::error_code ec;
    if (std::filesystem::create_directory(folder, ec)) {
        platform::SyncDirectory(directory_.c_str());
    }
    const bool existed = platform::PathExists(path_.c_str());
    // Until it is open, one that exists may hold what an earlier run left.
    awaiting_open_ = existed;
    if (!file_.Open(path_)) {
        return false;
    }
    if (!existed) {
        platform::SyncDirectory(folder.c_str());
    }
    const int64_t size = file_.Size();
    journal::Header header;
    journal::Reader reader(file_);
    if (size <= 0 || !reader.ReadHeader(header)) {
        // New, or a header that a power cut tore while it was rewritten at a
        // cut: the records behind it had all been written.
        awaiting_open_ = false;
        return StartAnew();
    }
    epoch_ = header.epoch;
    if (instrument_.empty()) {
        instrument_ = header.instrument;  // a port the configuration no longer names
    }
    leftovers = ReadLeftovers(file_, header, reader.position(), directory_.c_str());
    end_ = leftovers.end;
    if (static_cast<uint64_t>(size) > end_ && !(file_.Truncate(end_) && Sync())) {
        // A torn tail that cannot be cut off would hide what follows. The
        // text stays in the file for a later open: none of it is handed out.
        file_.Close();
        leftovers.pieces.clear();
        return false;
    }
    period_begin_ = end_;
    for (const RecoveredText& piece : leftovers.pieces) {
        pending_.push_back(piece.span);
    }
    // Not cut while a file could not be put back: its intent tells the next
    // start to put it back, should this run die before it can.
    if (pending_.empty() && leftovers.unfinished.empty()) {
        // Not cut, it still holds the intents just settled: settled again
        // later, they must find their files as they are now.
        awaiting_open_ = !Cut();
        return !awaiting_open_;
    }
    leftovers_end_ = end_;
    written_before_ = leftovers.written;
    awaiting_open_ = false;
    return true;
}

bool PortJournal::OpenEmpty() {
    const bool existed = platform::PathExists(path_.c_str());
    if (!file_.Open(path_)) {
        return false;
    }
    if (!existed) {
        platform::SyncDirectory(JournalFolderPath(directory_.c_str()).c_str());
    }
    return StartAnew();
}

// A file made anew continues this run's epochs: a reader that follows the
// file beside the writer never meets an epoch it has seen before.
bool PortJournal::StartAnew() {
    return Cut();
}

bool PortJournal::Cut() {
    ++epoch_;
    // Known to the feed before the file shows it, so that a follower that
    // finds the new epoch in the file finds it in the feed as well.
    FeedEpoch(path_, epoch_);
    const std::string header = journal::EncodeHeader({epoch_, port_number_, instrument_});
    if (!file_.WriteAt(0, header.data(), header.size()) || !file_.Truncate(header.size()) ||
        !Sync()) {
        // Records behind a header that did not reach the disk could not be
        // read again: the port goes on without a journal.
        file_.Close();
        return false;
    }
    ++g_writes;
    end_ = header.size();
    period_begin_ = end_;
    text_since_period_ = false;
    pending_.clear();
    leftovers_end_ = 0;
    written_before_.clear();
    return true;
}

bool PortJournal::AppendRecord(journal::RecordKind kind, int64_t time_ms,
                               std::string_view payload) {
    if (!file_.IsOpen()) {
        return false;
    }
    const std::string record = journal::EncodeRecord(epoch_, kind, time_ms, payload);
    if (!file_.WriteAt(end_, record.data(), record.size())) {
        file_.Truncate(end_);  // nothing half-written stays in front of the next record
        if (!refusing_) {
            TellJournalRefused(directory_.c_str(), path_);
            refusing_ = true;
        }
        return false;
    }
    refusing_ = false;
    ++g_writes;
    end_ += record.size();
    if (!dirty_) {
        dirty_ = true;
        dirty_since_ = platform::TickCount();
    }
    return true;
}

bool PortJournal::Sync() {
    if (!file_.Sync()) {
        return false;
    }
    ++g_syncs;
    dirty_ = false;
    return true;
}

void PortJournal::Append(const char* bytes, size_t count, int64_t received_ms) {
    while (count > 0) {
        const size_t piece = count < journal::kMaxTextRecord ? count : journal::kMaxTextRecord;
        if (AppendRecord(journal::RecordKind::kText, received_ms, std::string_view(bytes, piece))) {
            FeedAppended(path_, bytes, piece, received_ms);
            text_since_period_ = true;
            period_journaled_ += piece;
            journaled_ += static_cast<int64_t>(piece);
        } else {
            missing_ += piece;
            FeedRefused(path_, piece);
        }
        bytes += piece;
        count -= piece;
    }
    Checkpoint("appended", port_number_, journaled_);
}

namespace {

// The text records of a span, in order, one record's payload at a time, up
// to a given length; then the text in memory that follows them, in pieces of
// the same size, paced alike (a long period's latest part runs to tens of
// megabytes).
class SpanText final : public platform::AppendSource {
public:
    SpanText(platform::DurableFile& file, uint32_t epoch, journal::Span span,
             const std::function<void()>* pacer, const WrittenSpans& pass_over,
             uint64_t from_journal, std::string_view then_in_memory)
        : reader_(file),
          epoch_(epoch),
          span_(span),
          pacer_(pacer),
          pass_over_(pass_over),
          from_journal_(from_journal),
          in_memory_(then_in_memory) {}
    void Rewind() override {
        reader_.Seek(epoch_, span_.begin);
        journal_left_ = from_journal_;
        memory_at_ = 0;
    }
    std::string_view Next() override {
        Pace();
        while (journal_left_ > 0 && reader_.position() < span_.end && reader_.Next(record_)) {
            if (record_.kind == journal::RecordKind::kText && span_.Holds(record_.offset) &&
                !record_.payload.empty() && !pass_over_.Holds(record_.offset)) {
                const std::string_view piece =
                    std::string_view(record_.payload)
                        .substr(0, static_cast<size_t>(
                                       std::min<uint64_t>(journal_left_, record_.payload.size())));
                journal_left_ -= piece.size();
                since_pace_ += piece.size();
                return piece;
            }
        }
        journal_left_ = 0;
        if (memory_at_ < in_memory_.size()) {
            const std::string_view piece = in_memory_.substr(memory_at_, journal::kMaxTextRecord);
            memory_at_ += piece.size();
            since_pace_ += piece.size();
            return piece;
        }
        return {};
    }

private:
    void Pace() {
        if (since_pace_ >= kReadBackPaceBytes && pacer_ != nullptr && *pacer_) {
            since_pace_ = 0;
            (*pacer_)();
        }
    }

    journal::Reader reader_;
    uint32_t epoch_;
    journal::Span span_;
    const std::function<void()>* pacer_;
    const WrittenSpans& pass_over_;
    uint64_t from_journal_;
    std::string_view in_memory_;
    uint64_t journal_left_ = 0;
    size_t memory_at_ = 0;
    size_t since_pace_ = 0;
    journal::Record record_;
};

}  // namespace

std::unique_ptr<platform::AppendSource> PortJournal::ReadText(const journal::Span& span,
                                                              uint64_t from_journal,
                                                              std::string_view then_in_memory) {
    auto text = std::make_unique<SpanText>(file_, epoch_, span, pacer_, written_before_,
                                           from_journal, then_in_memory);
    text->Rewind();
    return text;
}

void PortJournal::SyncIfDue(uint32_t tick) {
    if (dirty_ && file_.IsOpen() && tick - dirty_since_ >= kJournalSyncIntervalMs) {
        Sync();
    }
}

TextJournal::Period PortJournal::EndPeriod() {
    Period period;
    if (text_since_period_) {
        period.span = {period_begin_, end_};
        pending_.push_back(period.span);
    }
    period.missing = missing_;
    missing_ = 0;
    period_journaled_ = 0;
    period_begin_ = end_;
    text_since_period_ = false;
    if (dirty_ && file_.IsOpen()) {
        Sync();
    }
    Checkpoint("period-ended", port_number_);
    return period;
}

bool PortJournal::RecordIntent(const journal::Span& span, const std::string& file_name,
                               uint64_t length_before, bool creates_file,
                               platform::AppendSource& bytes) {
    last_intent_.reset();
    if (!file_.IsOpen()) {
        // No journal (any more): no crash can leave this text in one. One
        // that could not be opened yet, or given up but not emptied, may
        // hold text: the write waits.
        return !awaiting_open_ && ClearStale();
    }
    journal::WriteIntent intent;
    // An intent names only text the journal holds: a span of a journal
    // given up since may be handed out anew, and a restart would take its
    // new text for written.
    intent.span = Holds(span) ? span : journal::Span{};
    intent.length_before = length_before;
    intent.creates_file = creates_file;
    intent.file_name = file_name;
    bytes.Rewind();
    for (std::string_view piece = bytes.Next(); !piece.empty(); piece = bytes.Next()) {
        intent.crc = journal::Crc32(intent.crc, piece.data(), piece.size());
        intent.bytes_to_add += piece.size();
    }
    const char* failure = RecordDurably(intent, span);
    if (failure == nullptr) {
        return true;
    }
    if (intent.span.empty()) {
        // Text the journal does not hold: written without the intent, as it
        // would be without a journal.
        return true;
    }
    // A journal that cannot say what a write is about to do could not tell
    // after a crash whether it happened. It is given up rather than holding
    // the data file back: text that is in memory goes to the data file now;
    // text that only the journal held is lost, and the writer counts it.
    // Not while it holds text an earlier run left, which is nowhere else:
    // then the write waits, as for a data file that cannot be written, and
    // the text stays for a later try.
    if (HoldsLeftovers()) {
        if (!refusing_) {
            TellJournalRefused(directory_.c_str(), path_);
            refusing_ = true;
        }
        return false;
    }
    GiveUp(failure);
    if (stale_) {
        return false;  // still holds the text: the write waits until it is gone
    }
    // Emptied, it starts anew at once, so that the write of the text in
    // memory does not go without an intent either (a crash in it would
    // leave half a block that no restart could tell).
    intent.span = {};
    if (may_reopen_ && OpenEmpty() && RecordDurably(intent, span) != nullptr) {
        GiveUp(failure);
    }
    return true;
}

const char* PortJournal::RecordDurably(const journal::WriteIntent& intent,
                                       const journal::Span& for_span) {
    if (!AppendRecord(journal::RecordKind::kIntent, UtcMs(), journal::EncodeIntent(intent))) {
        return "the journal could not be written";
    }
    if (!Sync()) {
        return "the journal could not be flushed to disk";
    }
    last_intent_ = intent;
    last_intent_for_ = for_span;
    Checkpoint("intent-recorded", port_number_);
    return nullptr;
}

// An intent that stays the journal's last would have the next start put its
// file back to the length it gives, cutting off what was appended since by a
// run that had no journal (one that could not open it, say). Once the failed
// write has left its file durably as it was, the intent is voided, durably.
// Not one that was creating its file: a power cut may bring back a removed
// name, and the next start removes it again only under the intent.
void PortJournal::WriteFailed(const journal::Span& span) {
    if (!last_intent_ || !(last_intent_for_ == span) || !file_.IsOpen()) {
        return;
    }
    const journal::WriteIntent intent = *last_intent_;
    last_intent_.reset();
    const std::string data_file = platform::JoinPath(directory_, intent.file_name);
    const bool as_before =
        !intent.creates_file &&
        platform::FileLength(data_file.c_str()) == static_cast<int64_t>(intent.length_before) &&
        MakeDataFileDurable(data_file);
    if (as_before &&
        AppendRecord(journal::RecordKind::kUndone, UtcMs(), journal::EncodeSpan(intent.span))) {
        Sync();
    }
}

bool PortJournal::HoldsLeftovers() const {
    for (const journal::Span& span : pending_) {
        if (span.end <= leftovers_end_) {
            return true;
        }
    }
    return false;
}

void PortJournal::GiveUp(const char* reason) {
    if (!refusing_) {
        TellJournalRefused(directory_.c_str(), path_);
    }
    // Emptied, it holds nothing a later open could take for text or an
    // intent: it may be tried again. One that cannot be emptied durably is
    // removed; one that stays may give its text back after a power cut, and
    // a next start would write it again beside what this run writes of it:
    // until it is gone, no data file of the port is written.
    const bool cut = file_.Truncate(0);
    const bool emptied = cut && file_.Sync();
    file_.Close();
    may_reopen_ = emptied || RemoveDurably();
    stale_ = !may_reopen_;
    // Its text is found by the next start where the cut did not happen; one
    // that only failed to reach the disk leaves it to a power cut alone.
    stale_spans_ = stale_ && !cut ? pending_ : std::vector<journal::Span>{};
    pending_.clear();
    // The current period's text it took is gone with it: opened again, it
    // does not hold the period whole.
    missing_ += period_journaled_;
    period_journaled_ = 0;
    text_since_period_ = false;
    given_up_because_ = reason;
}

bool PortJournal::RemoveDurably() {
    if (!platform::RemoveFile(path_.c_str())) {
        return false;
    }
    platform::SyncDirectory(JournalFolderPath(directory_.c_str()).c_str());
    return true;
}

bool PortJournal::ClearStale() {
    if (stale_ && RemoveDurably()) {
        stale_ = false;
        stale_spans_.clear();
        may_reopen_ = true;
    }
    return !stale_;
}

bool PortJournal::KeepsForNextStart(const journal::Span& span) const {
    return stale_ && !span.empty() &&
           std::find(stale_spans_.begin(), stale_spans_.end(), span) != stale_spans_.end();
}

bool PortJournal::Holds(const journal::Span& span) const {
    return file_.IsOpen() && std::find(pending_.begin(), pending_.end(), span) != pending_.end();
}

void PortJournal::Forget(const journal::Span& span) {
    const auto held = std::find(pending_.begin(), pending_.end(), span);
    if (held == pending_.end()) {
        // Text it does not hold (it never took it, or lost it when it was
        // given up): nothing to mark done, though it may be cut now.
        if (file_.IsOpen() && Empty()) {
            Cut();
        }
        return;
    }
    Checkpoint("data-written", port_number_);
    pending_.erase(held);
    if (!file_.IsOpen()) {
        return;
    }
    if (Empty()) {
        if (!Cut()) {
            TellJournalRefused(directory_.c_str(), path_);
            return;
        }
        Checkpoint("journal-cut", port_number_);
    } else {
        AppendRecord(journal::RecordKind::kDone, UtcMs(), journal::EncodeSpan(span));
    }
}

void PortJournal::Close() {
    may_reopen_ = false;
    if (file_.IsOpen()) {
        if (dirty_) {
            Sync();
        }
        file_.Close();
    }
}

ReceivedTextJournal::ReceivedTextJournal(const ComConfig& config)
    : config_(config), ports_(static_cast<size_t>(config.NumPorts > 0 ? config.NumPorts : 0)) {}

ReceivedTextJournal::~ReceivedTextJournal() = default;

std::vector<ReceivedTextJournal::OpenedPort> ReceivedTextJournal::Start() {
    std::vector<OpenedPort> opened;
    if (!g_enabled.load()) {
        return opened;
    }
    const char* directory = config_.OutputDriveAndPath;
    SettleDataFilesAtStart(directory);
    // Journals a run made before it died may lack their names on the disk.
    platform::SyncDirectory(JournalFolderPath(directory).c_str());
    for (size_t p = 0; p < ports_.size(); ++p) {
        const int position = static_cast<int>(p);
        auto port = std::make_unique<PortJournal>(directory, config_.PortNumber[position],
                                                  config_.InstrumentType[position]);
        OpenedPort found;
        found.position = position;
        found.journal = port.get();
        if (!port->Open(found.leftovers)) {
            // The port runs without a journal until it can be opened.
            TellJournalRefused(directory, port->path());
        }
        port->SetReadBackPacer(&pacer_);
        ports_[p] = std::move(port);
        opened.push_back(std::move(found));
    }
    return opened;
}

std::vector<ReceivedTextJournal::OpenedPort> ReceivedTextJournal::Reopen() {
    std::vector<OpenedPort> opened;
    for (size_t p = 0; p < ports_.size(); ++p) {
        PortJournal* port = ports_[p].get();
        OpenedPort found;
        found.position = static_cast<int>(p);
        found.journal = port;
        // A file that its recovery could not put back is returned as well:
        // nothing may be written after the part it holds.
        if (port != nullptr && port->MayReopen() && port->Open(found.leftovers) &&
            !(found.leftovers.pieces.empty() && found.leftovers.unfinished.empty())) {
            opened.push_back(std::move(found));
        }
    }
    return opened;
}

void ReceivedTextJournal::RecoverUnconfigured(const WriteLeftover& write) {
    if (!g_enabled.load()) {
        return;
    }
    const char* directory = config_.OutputDriveAndPath;
    std::error_code ec;
    for (const auto& entry :
         std::filesystem::directory_iterator(JournalFolderPath(directory), ec)) {
        const int number = PortNumberOfFile(entry.path().filename().string());
        bool configured = false;
        for (int p = 0; p < config_.NumPorts; ++p) {
            configured = configured || config_.PortNumber[p] == number;
        }
        if (number == 0 || configured) {
            continue;
        }
        PortJournal port(directory, number, "");
        Leftovers leftovers;
        if (!port.Open(leftovers)) {
            continue;
        }
        for (const RecoveredText& piece : leftovers.pieces) {
            if (!write(port, number, port.instrument(), piece, leftovers.unfinished)) {
                break;
            }
        }
        const bool empty = port.Empty();
        port.Close();
        if (empty) {
            platform::RemoveFile(port.path().c_str());
        }
    }
}

void ReceivedTextJournal::Append(int position, const char* bytes, int32_t count) {
    PortJournal* port = ports_.empty() ? nullptr : ports_[static_cast<size_t>(position)].get();
    if (port != nullptr && count > 0) {
        port->Append(bytes, static_cast<size_t>(count), UtcMs());
    }
}

bool ReceivedTextJournal::HoldsCurrentPeriod(int position) const {
    const auto& port = ports_[static_cast<size_t>(position)];
    return port != nullptr && port->HoldsCurrentPeriod();
}

void ReceivedTextJournal::SyncIfDue() {
    bool waiting = false;
    for (const auto& port : ports_) {
        waiting = waiting || (port && port->dirty());
    }
    if (!waiting) {
        return;  // nothing to make durable: not even the clock is read
    }
    const uint32_t tick = platform::TickCount();
    for (auto& port : ports_) {
        if (port) {
            port->SyncIfDue(tick);
        }
    }
}

void ReceivedTextJournal::RemoveGivenUp() {
    // The text such a journal held is then lost, and counted, rather than
    // found again by the next start.
    for (auto& port : ports_) {
        if (port) {
            port->ClearStale();
        }
    }
}

void ReceivedTextJournal::Close() {
    for (auto& port : ports_) {
        if (port) {
            port->Close();
        }
    }
}
