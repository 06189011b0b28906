// The byte-accounting invariant, checked from the outside: from the files in
// the output directory and the simulator's own record of what each device
// delivered and when, never from the engine's state.
//
// - Every byte a device delivered is in the data file of the UTC hour it was
//   delivered in, once, in order (a file's text is the delivered text of its
//   hour with bytes left out, never one added, doubled or moved), or it is
//   counted with its exact number in a loss entry of the log (30, 31, 41).
//   Bytes a crash caught before the engine had made them durable (see
//   Delivered::at_risk) may be missing without a count.
// - No data file claims text it lacks: every block between its markers has
//   text, and no "20  Disk I/O: Write to" entry names a file that did not get
//   a block.
// - Every log entry the engine asked to write is in the log once, or counted
//   by an entry 38, unless a crash caught it unwritten in memory; every line
//   of the log is a whole entry.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

namespace simulation {

// A device's text as it left the device, piece by piece.
struct DeliveredPiece {
    uint64_t offset = 0;  // in the device's whole text
    int64_t time_ms = 0;  // on the fake clock
    std::string bytes;
};

struct ByteRange {
    uint64_t begin = 0;
    uint64_t end = 0;
};

struct Delivered {
    int port_number = 0;
    std::string instrument;
    std::vector<DeliveredPiece> pieces;
    // Ranges a crash caught in memory only: the last second's text not yet
    // durable in the journal, or text of a life whose journal the engine
    // reported it could not write.
    std::vector<ByteRange> at_risk;
};

struct Accounts {
    std::string directory;
    std::vector<Delivered> ports;
    int64_t log_entries_attempted = 0;
    // Of them, those a crash caught in memory, unwritten (or given up and not
    // yet told): the log may lack them.
    int64_t log_entries_forgotten = 0;
    // Write problems of the engine: where it could not keep entries it could
    // not write, it tells them there, one by one.
    std::vector<std::string> told_log_entries;
    // Files a crash caught the engine writing: one may be left empty.
    std::set<std::string> files_crashes_caught;
};

// What is wrong, one finding per line (empty: the invariant holds).
std::vector<std::string> CheckAccounts(const Accounts& accounts);

}  // namespace simulation
