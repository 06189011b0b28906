#include "acquisition/journaled_writing.h"

#include <string>

#include "acquisition/unfinished_writes.h"

namespace {

// Also when the journal cannot be used now: nothing goes after a part that
// its recovery could not take out of a data file.
void HandToWriter(ReceivedTextJournal::OpenedPort& opened, DataFileWriter& writer) {
    writer.OweUndos(opened.leftovers.unfinished);
    writer.AttachJournal(opened.position, opened.journal);
    if (!opened.leftovers.pieces.empty()) {
        writer.WriteRecovered(opened.position, opened.leftovers.pieces);
    }
}

}  // namespace

void StartJournaledWriting(ReceivedTextJournal& journals, DataFileWriter& writer,
                           const char* directory) {
    writer.OweUndos(SettleUnfinishedWrites(directory));
    for (ReceivedTextJournal::OpenedPort& opened : journals.Start()) {
        HandToWriter(opened, writer);
    }
    journals.RecoverUnconfigured([directory](TextJournal& journal, int port_number,
                                             const std::string& instrument,
                                             const RecoveredText& piece,
                                             platform::UnfinishedAppends& unfinished) {
        const DataBlock block = RecoveredBlock(directory, port_number, instrument, piece);
        return WriteDataBlock(directory, block, block.text, &journal, unfinished);
    });
}

void ReopenJournals(ReceivedTextJournal& journals, DataFileWriter& writer) {
    for (ReceivedTextJournal::OpenedPort& opened : journals.Reopen()) {
        HandToWriter(opened, writer);
    }
}

void StopJournaledWriting(ReceivedTextJournal& journals, DataFileWriter& writer) {
    journals.RemoveGivenUp();
    writer.KeepUnwrittenAtStop();
    writer.DetachJournals();
    journals.Close();
}
