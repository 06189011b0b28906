// Data files left holding part of a failed write whose undo failed as well,
// noted beside the journals. A write under a journal's intent is settled by
// the next start from that intent; a write without one (the port's journal
// could not be used) is known only to the writer that owes its undo, and a
// run that ends still owing it would leave the part in the file for good:
// the next run would write after it. The note tells the next start.
//
// Each line names a file, the undo owed (removal, or a cut back to a length)
// and the evidence of the part: the file's length and the CRC of the bytes
// past the cut as the note found them. The next start makes an undo only
// where that evidence still holds, so a note that outlived its undo (its
// removal failed) can never cut a file that has grown since.
#pragma once

#include "platform/files.h"

inline constexpr char kUnfinishedWritesNote[] = "UnfinishedWrites";

// Replaces the note in `directory`'s journal folder with the undos `owed`
// (removes it when none is owed). False when that could not be done.
bool NoteUnfinishedWrites(const char* directory, const platform::UnfinishedAppends& owed);

// At a start, before anything is written: makes the undos of the note whose
// evidence holds and returns those that failed (to be owed by the writer);
// the note goes once nothing of it is owed any more.
platform::UnfinishedAppends SettleUnfinishedWrites(const char* directory);
