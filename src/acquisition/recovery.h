// What an earlier run left in a port's journal. The data-file write that run
// may have been in the middle of is settled against the file's actual length:
// done (the span is written), cut short (the file is put back to its length
// before the write, and the text is written again) or not begun. The text no
// data file holds is then cut into pieces by the UTC hour it was received in.
#pragma once

#include <cstdint>
#include <vector>

#include "acquisition/data_files.h"
#include "acquisition/journal_file.h"
#include "platform/durable_file.h"

struct Leftovers {
    std::vector<RecoveredText> pieces;  // in the order of reception
    uint64_t end = 0;                   // where the last record that checks ends
};

// Reads the journal `file` (whose header is `header`, its records beginning
// at `recordsBegin`) and settles it against the data files in `directory`.
Leftovers ReadLeftovers(platform::DurableFile& file, const journal::Header& header,
                        uint64_t recordsBegin, const char* directory);
