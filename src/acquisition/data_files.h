// The period schedule and the hourly data files: each port's text of a period
// is appended to <directory>/<yy><ddd><hh>.P<nn> between a StartTime and an
// EndTime marker. A text whose file cannot be opened or written is kept and
// written at a later flush into the file of the hour it was received in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "acquisition/journal_file.h"
#include "acquisition/text_journal.h"
#include "config/com_config.h"
#include "platform/clock.h"
#include "platform/files.h"

// The end of the first period: the first multiple of `period_seconds` after the
// start of the current UTC hour that lies strictly after now (the clock is
// read again at every step).
int64_t FirstPeriodEnd(int period_seconds);

// "<directory>/<yy><ddd><hh>.P<nn>" for the file-name time and COM number.
std::string DataFilePath(const char* directory, const std::tm& file_name_time, int port_number);

// "MM/DD/YY HH:MM:SS:mmm StartTime" (or EndTime), without a line end.
std::string TimeMarker(const platform::SystemTime& time, const char* word);

// What one flush knows about all ports.
struct FlushContext {
    std::tm file_name_time;  // names the files: when the period's polling began
    bool first_flush;        // the first flush since the thread started
    bool end_marker_due;     // stopping, or the scheduled end is minute 0 of an hour
};

// One port's text of the period.
struct PortPeriodText {
    int position;  // port position in the configuration
    const char* text;
    int32_t length;  // every byte counts, zero bytes included
    platform::SystemTime start_time;
    platform::SystemTime stop_time;
    // The port's exchange header, for a port whose acquisition function
    // writes one at the head of its new files (null: none).
    const char* header;
};

// A period too long to stay in memory: its earlier text was dropped from
// memory once the journal held it, and `text` holds only what came after;
// these give its whole length and its first and last bytes.
struct LongPeriod {
    int64_t length = 0;  // 0: the period is in memory
    char first_byte = 0;
    char last_byte = 0;
};

// Default limit of text kept per port while its file cannot be written:
// more than an hour of a 115200-baud instrument.
inline constexpr size_t kUnwrittenCapBytes = size_t{64} << 20;

// One block of a data file: a period's text (or a recovered piece) with every
// item that belongs around it, decided when it was received; the items that
// depend on the file's existence are decided when it is written.
struct DataBlock {
    int port_number = 0;
    std::string path;
    std::string creation_items;     // instrument line and hygrometer header
    std::string start_marker;       // with its line end, if any
    bool start_marker_due = false;  // first flush of the run, or recovered text
    std::string end_marker;         // with its leading line end, if due
    std::string text;               // the raw text in memory, once it has to be kept
    bool text_in_journal = false;   // a long period: its text begins in the journal
    int64_t text_length = 0;        // all of it, in the journal and in memory
    platform::SystemTime start_time{};
    platform::SystemTime stop_time{};
    journal::Span span;            // its text in the port's journal (empty: none)
    uint64_t journal_missing = 0;  // bytes of it the journal could not take
    bool recovered = false;        // from an earlier run: entry 34 once written
};

// Appends `block` with `text` to its file in one checked write, durably:
// entry 20 once the file is open, the intent recorded in `journal` (if any)
// before a byte is written and the span forgotten after; entry 34 for a
// recovered block. False (entry 19, the file as it was) when the file cannot
// be opened or written.
// `text` is the block's text in memory; a block whose text begins in the
// journal has its first text_length - text.size() bytes read back from
// there. Such a block is not written once the journal no longer holds them
// (false, the file as it was, no entry 19): the caller counts them lost.
// With `keep_span`, the journal keeps the span after the write (the caller
// forgets it once it has read the text again).
// A file in `unfinished` (the writer's files that a failed write could not
// put back) is put back first; while that fails the block is not written
// (false, entry 19), and a write whose own undo fails is added to it.
bool WriteDataBlock(const char* directory, const DataBlock& block, std::string_view text,
                    TextJournal* journal, platform::UnfinishedAppends& unfinished,
                    bool keep_span = false);

// The block of a recovered piece for COM `port_number`; its text is read back
// from the port's journal when it is written.
DataBlock RecoveredBlock(const char* directory, int port_number, const std::string& instrument,
                         const RecoveredText& piece);

// Received bytes given up since the process started (entries 30 and 41):
// text the logger held and could not keep. Each is also told at once on the
// write-problem channel.
int64_t ReceivedBytesGivenUp();

class DataFileWriter {
public:
    DataFileWriter(const ComConfig& config, size_t unwritten_cap_bytes = kUnwrittenCapBytes);
    ~DataFileWriter();
    DataFileWriter(const DataFileWriter&) = delete;
    DataFileWriter& operator=(const DataFileWriter&) = delete;

    // From now on every write of the port's text goes through its journal
    // (null: none).
    void AttachJournal(int position, TextJournal* journal);
    // No port's text goes through a journal any more (before they close).
    void DetachJournals();

    // Writes text recovered from an earlier run, before anything else of the
    // port; what cannot be written is kept like a period's text, though only
    // as where it lies in the journal (a piece costs no memory).
    void WriteRecovered(int position, const std::vector<RecoveredText>& pieces);
    // Data files that an earlier run left holding part of a write that its
    // start could not put back: they are put back before anything more is
    // written to them.
    void OweUndos(const platform::UnfinishedAppends& unfinished) {
        unfinished_.Include(unfinished);
    }

    // Closes the port's period in its journal, durably, once its text is
    // complete (the period's drain): what the port receives from then on
    // belongs to the next period and may go to the journal at once. The
    // next WritePort of the port writes the period so closed.
    void EndPeriod(int position);

    // Writes one port's period: entry 21 when it has no text; otherwise the
    // layout items due, after any text of the port still unwritten from
    // earlier periods. A file that cannot be opened or written gets entry 19
    // and its text is kept for the next flush.
    void WritePort(const FlushContext& context, const PortPeriodText& period,
                   const LongPeriod& long_period = {});

    // The text of a long period that WritePort has just written or kept,
    // read back from the journal and followed by `in_memory`, its latest part
    // (null for a period in memory, or one whose text in the journal was
    // lost: the buffer is then all there is); and the end of its text in the
    // journal, once the statistics have read it.
    std::unique_ptr<platform::AppendSource> LongPeriodText(int position,
                                                           std::string_view in_memory);
    void ForgetLongPeriods();

    // As acquisition ends: text still unwritten stays in the port's journal
    // for the next start; every byte that no journal holds is given up
    // (entry 30, or 41 for text lost with a journal that was given up).
    void KeepUnwrittenAtStop();

    // Gives up on text that is still unwritten (entry 30 for each piece).
    void DiscardUnwritten(const char* reason);

    size_t UnwrittenBytes(int position) const;

private:
    DataBlock MakeBlock(const FlushContext& context, const PortPeriodText& period,
                        const LongPeriod& long_period) const;
    // Writes the kept blocks of a port in order; returns the files that are
    // still not writable (their blocks stay kept, and hold back only later
    // blocks of the same file).
    std::set<std::string> WriteUnwritten(int position);
    enum class Written { kYes, kNo, kNothingLeft };
    // Writes `block`, whose text in memory is `text`; when the journal gives
    // up (before or during the write) the part of the text only it held,
    // that part is counted lost and what is in memory is written.
    Written Write(int position, DataBlock& block, std::string_view text, bool keep_span = false);
    Written WriteThroughJournal(int position, DataBlock& block, std::string_view text,
                                bool keep_span);
    bool NoteUnfinishedWritesIfChanged();
    // Entry 44 for each file left holding part of a failed write that
    // neither its undo nor the note could take care of.
    void TellUnfinishedWritesLeft();
    // Entry 41 for the part of `block`'s text that only the journal held;
    // the block keeps its text in memory, `text`. False: nothing is left.
    bool LoseJournalPart(int position, DataBlock& block, std::string_view text);
    // Entry 41 for the kept blocks whose journal part was lost since they
    // were kept; those with nothing in memory go.
    void CountKeptTextLostWithJournal(int position);
    void LeaveToNextStart(int position);
    bool JournalLost(int position, const DataBlock& block) const;
    void WritePeriod(const FlushContext& context, const PortPeriodText& period,
                     const LongPeriod& long_period, const TextJournal::Period& journaled,
                     const std::set<std::string>& blocked);
    void Keep(int position, DataBlock block);
    void Discard(int position, const DataBlock& block, int64_t bytes, const char* reason);
    // A whole block that neither its file nor its journal keeps: to the
    // rescue directory (entry 43) when it can go there, else discarded.
    void GiveUp(int position, const DataBlock& block, const char* reason);
    std::string Rescue(const DataBlock& block);
    TextJournal* JournalOf(int position) const { return Port(position).journal; }

    // A port's long period just written or kept: its text in the journal
    // and how much of it comes from there.
    struct LongPeriodInJournal {
        journal::Span span;
        int64_t journal_part = 0;
    };
    // Everything the writer holds of one port.
    struct PortFiles {
        // Blocks kept while their files cannot be written, in order, and
        // the bytes of their text in memory.
        std::deque<DataBlock> unwritten;
        size_t unwritten_bytes = 0;
        TextJournal* journal = nullptr;  // its text's journal (null: none)
        LongPeriodInJournal long_period;  // kept for the statistics until forgotten
        std::optional<TextJournal::Period> ended;  // closed by EndPeriod, not yet written
    };
    PortFiles& Port(int position) { return ports_[static_cast<size_t>(position)]; }
    const PortFiles& Port(int position) const { return ports_[static_cast<size_t>(position)]; }

    const ComConfig& config_;
    size_t cap_;
    std::vector<PortFiles> ports_;  // by port position
    // Data files holding part of a failed write that could not be undone:
    // nothing more is written to one until it is put back.
    platform::UnfinishedAppends unfinished_;
    // The undos the note beside the journals holds (see unfinished_writes.h).
    std::map<std::string, platform::UnfinishedAppends::Undo> noted_;
};
