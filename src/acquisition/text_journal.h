// A port's journal as the data files' writer sees it, and the text an earlier
// run left in one: what the writer and the journal share, so that neither
// needs the other's unit.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

#include "acquisition/journal_file.h"
#include "platform/clock.h"
#include "platform/files.h"

// A port's journal of received text as the writer sees it (PortJournal).
class TextJournal {
public:
    virtual ~TextJournal() = default;

    struct Period {
        journal::Span span;    // the period's text in the journal
        uint64_t missing = 0;  // bytes of it the journal could not take
    };
    // Ends the port's current period in the journal, durably.
    virtual Period EndPeriod() = 0;
    // Records, durably, that `bytes` are about to be appended to `file_name`
    // (in the output directory, now `length_before` long) for the text of
    // `span`. False: the write must not happen (a journal that cannot record
    // it may instead give itself up and let the write go ahead).
    virtual bool RecordIntent(const journal::Span& span, const std::string& file_name,
                              uint64_t length_before, bool creates_file,
                              platform::AppendSource& bytes) = 0;
    // The write whose intent was just recorded for `span` failed; its data
    // file may have been put back as it was.
    virtual void WriteFailed(const journal::Span& span) = 0;
    // The text of `span` is on disk in its data file, or has been given up.
    virtual void Forget(const journal::Span& span) = 0;
    // True while the journal holds every byte of the current period, so that
    // the period's text may be read back from it (and dropped from memory).
    virtual bool HoldsCurrentPeriod() const = 0;
    // True while the text of `span` (handed out by EndPeriod) is in the
    // journal: not yet forgotten, and not lost with a journal given up.
    virtual bool Holds(const journal::Span& span) const = 0;
    // Why the journal gave up its text; empty while it has not.
    virtual const std::string& GivenUpBecause() const = 0;
    // True when the text of `span` stays in a journal given up that could be
    // neither emptied nor removed: the next start finds it there.
    virtual bool KeepsForNextStart(const journal::Span& span) const = 0;
    // A period's text: the first `from_journal` bytes of the received text of
    // `span`, read back, then `then_in_memory` (its latest part, which the
    // journal may lack), in pieces of at most 64 KiB. It reads the journal as
    // it stands, so it lives only as long as a write.
    virtual std::unique_ptr<platform::AppendSource> ReadText(const journal::Span& span,
                                                             uint64_t from_journal,
                                                             std::string_view then_in_memory) = 0;
};

// Text that an earlier run left in a port's journal, of one UTC hour of
// reception: written as a block of its own between a StartTime and an EndTime
// marker (the receive times of its first and last blocks). The text stays in
// the journal, which reads it back when it is written.
struct RecoveredText {
    std::tm hour;  // names the data file
    journal::Span span;
    int64_t length = 0;  // bytes of text
    char first_byte = 0;
    char last_byte = 0;
    platform::SystemTime first_received;
    platform::SystemTime last_received;
};
