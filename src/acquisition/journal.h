// The journal of received text, so that nothing received is lost to a power
// cut, a crash, a full disk or a stop. Every block the engine moves into a
// port's buffer is appended at once to the port's journal with its receive
// time; the journal reaches the disk at least once a second while text
// arrives and at every period end; and a period's text is forgotten only
// after its data file has been written and flushed to disk. What an earlier
// run left behind is written into the data files when acquisition starts
// (entry 34 per piece). The file format is described in journal_file.h.
//
// The journals live in <output directory>/journal, one file per port.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/journal_file.h"
#include "acquisition/recovery.h"
#include "acquisition/text_journal.h"
#include "config/com_config.h"
#include "platform/durable_file.h"

// A port's journal file in the output directory.
std::string JournalPath(const char* directory, int port_number);

// How often the journal reaches the disk while text arrives.
inline constexpr uint32_t kJournalSyncIntervalMs = 1000;

// How much text is read back from a journal between two calls of its
// read-back pacer.
inline constexpr size_t kReadBackPaceBytes = 1 << 20;

// One port's journal.
class PortJournal final : public TextJournal {
public:
    PortJournal(const char* directory, int port_number, std::string instrument);
    ~PortJournal() override;
    PortJournal(const PortJournal&) = delete;
    PortJournal& operator=(const PortJournal&) = delete;

    // Opens the file, creating it (and the folder) when missing, and returns
    // what an earlier run left in it (an intent it was in the middle of is
    // settled). False when it cannot be opened (entry 19 is the caller's);
    // it may be tried again.
    bool Open(Leftovers& leftovers);
    bool IsOpen() const { return file_.IsOpen(); }
    // True while the file is closed but may be opened again: it could not be
    // opened, or was given up and emptied. Each write of a data file without
    // a journal is one a crash can leave half done.
    bool MayReopen() const { return !file_.IsOpen() && may_reopen_; }
    const std::string& path() const { return path_; }
    // The instrument named in the file as found (for a port no longer configured).
    const std::string& instrument() const { return instrument_; }

    // Appends text received at `received_ms` (UTC milliseconds since 1970).
    // A record the disk refuses is taken back and counted as missing.
    void Append(const char* bytes, size_t count, int64_t received_ms);
    // Makes the journal durable when text has waited `kJournalSyncIntervalMs`.
    void SyncIfDue(uint32_t tick);
    // True while something written has not yet reached the disk.
    bool dirty() const { return dirty_; }
    // True when no file given up but not emptied is left (tries to remove it).
    bool ClearStale();
    // Makes everything durable and closes the file; what it still holds waits
    // for the next start.
    void Close();
    // True when everything in it has been forgotten.
    bool Empty() const { return pending_.empty() && !text_since_period_; }

    Period EndPeriod() override;
    bool RecordIntent(const journal::Span& span, const std::string& file_name,
                      uint64_t length_before, bool creates_file,
                      platform::AppendSource& bytes) override;
    void WriteFailed(const journal::Span& span) override;
    void Forget(const journal::Span& span) override;
    bool HoldsCurrentPeriod() const override { return file_.IsOpen() && missing_ == 0; }
    bool Holds(const journal::Span& span) const override;
    const std::string& GivenUpBecause() const override { return given_up_because_; }
    bool KeepsForNextStart(const journal::Span& span) const override;
    std::unique_ptr<platform::AppendSource> ReadText(const journal::Span& span,
                                                     uint64_t from_journal,
                                                     std::string_view then_in_memory) override;
    // All the received text of `span`.
    std::unique_ptr<platform::AppendSource> ReadText(const journal::Span& span) {
        return ReadText(span, UINT64_MAX, {});
    }
    // Called by what ReadText returns after every kReadBackPaceBytes it gave;
    // `pacer` (or what it refers to) may be empty, and must outlive the journal.
    void SetReadBackPacer(const std::function<void()>* pacer) { pacer_ = pacer; }

private:
    bool AppendRecord(journal::RecordKind kind, int64_t time_ms, std::string_view payload);
    // Appends the intent of the write of `for_span`, durably; null, or why not.
    const char* RecordDurably(const journal::WriteIntent& intent, const journal::Span& for_span);
    bool Sync();
    // Back to the header alone, under a new epoch.
    bool Cut();
    // Empties and closes the file: the port goes on without a journal, and
    // the text that only the journal held is lost (for `reason`).
    void GiveUp(const char* reason);
    // True while text an earlier run left waits in the file to be written.
    bool HoldsLeftovers() const;
    bool StartAnew();
    // Opens the file just emptied or removed by GiveUp, under a new header.
    bool OpenEmpty();
    // Removes the (closed) file and makes that durable; true when it is gone.
    bool RemoveDurably();

    std::string directory_;
    int port_number_;
    std::string instrument_;
    std::string path_;
    platform::DurableFile file_;
    uint32_t epoch_ = 0;
    uint64_t end_ = 0;           // where the next record goes
    uint64_t period_begin_ = 0;  // where the current period's text begins
    bool text_since_period_ = false;
    uint64_t missing_ = 0;                // bytes of this period the disk refused
    uint64_t period_journaled_ = 0;       // bytes of this period it took
    int64_t journaled_ = 0;               // text bytes appended since the journal opened
    bool refusing_ = false;               // the last append was refused (entry 19 given)
    std::vector<journal::Span> pending_;  // handed out, not yet forgotten
    uint64_t leftovers_end_ = 0;          // what an earlier run left lies before this
    WrittenSpans written_before_;         // of it, what that run wrote
    std::optional<journal::WriteIntent> last_intent_;  // recorded by this run
    journal::Span last_intent_for_;                    // the writer's span of it
    // The file could not be opened, and may hold text or intents an earlier
    // run left: until it is, no data file of the port is written (RecordIntent
    // refuses). Text written now would come before older text still in the
    // journal, and a stale intent could cut it off at the next start.
    bool awaiting_open_ = false;
    bool may_reopen_ = true;
    // Given up, but neither emptied nor removed (see GiveUp), with the spans
    // it held then.
    bool stale_ = false;
    std::vector<journal::Span> stale_spans_;
    std::string given_up_because_;
    bool dirty_ = false;
    uint32_t dirty_since_ = 0;
    const std::function<void()>* pacer_ = nullptr;
};

// The journals of one acquisition run, by port position. Owned by the run,
// used on the acquisition thread only.
class ReceivedTextJournal {
public:
    explicit ReceivedTextJournal(const ComConfig& config);
    ~ReceivedTextJournal();
    ReceivedTextJournal(const ReceivedTextJournal&) = delete;
    ReceivedTextJournal& operator=(const ReceivedTextJournal&) = delete;

    // What Start or Reopen found for one port: its journal, and what an
    // earlier run left in it.
    struct OpenedPort {
        int position = 0;
        TextJournal* journal = nullptr;
        Leftovers leftovers;
    };
    // At start, before the ports are opened: opens every port's journal (one
    // that cannot be opened now is tried again by Reopen) and returns them,
    // by position; nothing while journals are off.
    std::vector<OpenedPort> Start();
    // Writes one piece of what an earlier run left in the journal of a port
    // the configuration no longer has; false: it could not be written.
    using WriteLeftover = std::function<bool(TextJournal& journal, int port_number,
                                             const std::string& instrument,
                                             const RecoveredText& piece,
                                             platform::UnfinishedAppends& unfinished)>;
    // After Start: the journals of ports no longer configured are written
    // once, through `write`; what cannot be written waits for the next start.
    void RecoverUnconfigured(const WriteLeftover& write);
    // Before a flush writes the data files: tries again to open the journals
    // that could not be opened or were given up; returns those that opened
    // with text an earlier run left, to be written before anything of this run.
    std::vector<OpenedPort> Reopen();
    // Right after a read that added `count` bytes to port `position`'s buffer.
    void Append(int position, const char* bytes, int32_t count);
    // True while port `position`'s journal holds every byte of its current
    // period, so that the period's text can be read back from it.
    bool HoldsCurrentPeriod(int position) const;
    // Reading a long period back takes seconds (a gigabyte and more at a
    // period's end), and the ports' receive queues fill meanwhile: `pacer` is
    // called after every kReadBackPaceBytes read back from any journal, by
    // the data files' writer and by the statistics alike. Set before Start.
    void SetReadBackPacer(std::function<void()> pacer) { pacer_ = std::move(pacer); }
    // Once per pass of the loop.
    void SyncIfDue();
    // As acquisition stops, before the writer keeps what it could not write:
    // a journal given up but not yet removed goes now if it can.
    void RemoveGivenUp();
    // After the writer has let go of the journals: closes them. Text still in
    // them is found by the next start.
    void Close();

private:
    const ComConfig& config_;
    std::vector<std::unique_ptr<PortJournal>> ports_;  // null: no journal for that port
    std::function<void()> pacer_;
};

// What the journal of one port has taken in this process, for a reader that
// follows the file beside the writer (the publisher). The writer may cut the
// file before the reader has read all of it: the reader then takes the rest
// from the feed's copy of the latest text, which the feed keeps while a
// reader follows it (kFeedRecentBytes at most). Positions count the text the
// journal took, from the first byte this process gave it.
struct JournalFeed {
    uint32_t epoch = 0;              // the file's epoch; 0 while nothing is known
    uint64_t text_before_epoch = 0;  // text the journal took before that epoch began
    uint64_t text_total = 0;         // text the journal took so far
    uint64_t refused_total = 0;      // text the disk refused (the file never held it)
};
inline constexpr size_t kFeedRecentBytes = size_t{4} << 20;
JournalFeed ReadJournalFeed(const std::string& path);
// Whether a reader follows the journal `path` (the feed keeps its latest text).
void FollowJournalFeed(const std::string& path, bool follow);
// Called, with no lock held, after text is appended to a followed journal, so
// that its reader need not look for it again and again (null: none).
void SetJournalFeedWaker(std::function<void()> waker);
// The text from position `from` to `to`, with its receive times, in pieces;
// false when the feed no longer holds all of it.
struct FeedText {
    int64_t received_ms = 0;
    std::string bytes;
};
bool ReadJournalFeedText(const std::string& path, uint64_t from, uint64_t to,
                         std::vector<FeedText>& out);

// Off only to measure what the journal costs (benchmarks); on by default.
void SetReceivedTextJournalEnabled(bool enabled);

// What the journals have done since the process started (benchmarks).
struct JournalActivity {
    int64_t writes = 0;  // records written
    int64_t syncs = 0;   // flushes to disk
};
JournalActivity ReadJournalActivity();

// Test seam: called on the acquisition thread at the journal's named points,
// with the COM number and, for "appended", the port's bytes journaled so far:
// "appended", "period-ended" (text durable, before the data file is written),
// "intent-recorded" (before the first byte of the data-file write),
// "data-written" (the data file is on disk, the journal not yet cut),
// "journal-cut". Nothing in the program installs one.
using JournalCheckpoint = void (*)(const char* point, int port_number, int64_t value);
void SetJournalCheckpoint(JournalCheckpoint checkpoint);
