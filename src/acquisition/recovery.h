// What an earlier run left in a port's journal. The data-file write that run
// may have been in the middle of, or a failed one it could not undo, is
// settled against the file's actual length: done (the span is written), cut
// short (the file is put back to its length before the write, and the text is
// written again; a file that cannot be put back yet takes nothing more until
// it is) or not begun. The text no
// data file holds is then described piece by piece, one piece per UTC hour it
// was received in; the text itself stays in the journal and is read back, in
// bounded pieces, when it is written, so a journal of any size is recovered
// in the same small memory.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/journal_file.h"
#include "acquisition/text_journal.h"
#include "platform/durable_file.h"
#include "platform/files.h"

// Spans of a journal whose text an earlier run wrote into its data files. A
// recovered piece may reach over one of them (text received in its hour on
// either side of a period that was written); its text records are passed
// over when the piece is read back.
class WrittenSpans {
public:
    void Add(const journal::Span& span) { spans_.push_back(span); }
    // Sorts the spans and joins those that overlap; before Holds.
    void Settle();
    bool Holds(uint64_t offset) const;
    void clear() { spans_.clear(); }

private:
    std::vector<journal::Span> spans_;
};

struct Leftovers {
    std::vector<RecoveredText> pieces;  // in the order of reception
    WrittenSpans written;               // to pass over when the pieces are read back
    uint64_t end = 0;                   // where the last record that checks ends
    // Data files left part-written that could not be put back yet.
    platform::UnfinishedAppends unfinished;
};

// Makes a data file as it now stands durable. A crash can leave a write
// that recovery finds complete (or the cut that undoes one) short of the
// disk: a power cut after the journal has let its text go would take the
// text back with it, or bring back the half-written bytes that were cut.
bool MakeDataFileDurable(const std::string& path);

// Reads the journal `file` (whose header is `header`, its records beginning
// at `records_begin`) and settles it against the data files in `directory`.
Leftovers ReadLeftovers(platform::DurableFile& file, const journal::Header& header,
                        uint64_t records_begin, const char* directory);
