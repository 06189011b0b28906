// The data files' writer and the journals of received text together: the
// order in which a start settles what earlier runs left, a flush reopens
// journals, and a stop keeps what could not be written. The engine owns it;
// the journal and the writer know each other only through TextJournal.
#pragma once

#include "acquisition/data_files.h"
#include "acquisition/journal.h"

// At start, before the ports are opened: parts of failed writes an earlier
// run noted are cut off, every port's journal is opened and attached to the
// writer, and what earlier runs left (also in journals of ports no longer
// configured) is written into the data files of the hours it was received in.
void StartJournaledWriting(ReceivedTextJournal& journals, DataFileWriter& writer,
                           const char* directory);

// Before a flush writes the data files: journals that could not be opened or
// were given up are tried again; what an earlier run left in those that open
// goes before anything of this run.
void ReopenJournals(ReceivedTextJournal& journals, DataFileWriter& writer);

// As acquisition stops: text that could not be written stays in the journals
// for the next start; the writer gives up only what they lack.
void StopJournaledWriting(ReceivedTextJournal& journals, DataFileWriter& writer);
