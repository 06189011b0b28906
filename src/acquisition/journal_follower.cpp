#include "acquisition/journal_follower.h"

#include "acquisition/journal_file.h"
#include "platform/durable_file.h"

namespace journal {
namespace {

// The end of the last record that checks, from `from`.
uint64_t EndOfRecords(Reader& reader, uint32_t epoch, uint64_t from) {
    reader.Seek(epoch, from);
    Record record;
    while (reader.Next(record)) {
    }
    return reader.position();
}

}  // namespace

JournalFollower::Look JournalFollower::Next(size_t limit) {
    Look look;
    platform::SharedReadFile file;
    if (!file.Open(path_)) {
        return look;
    }
    Reader reader(file);
    Header header;
    if (!reader.ReadHeader(header)) {
        return look;
    }
    const uint64_t first_record = reader.position();
    if (!started_) {
        started_ = true;
        place_ = {header.epoch,
                  started_at_beginning_ ? first_record
                                        : EndOfRecords(reader, header.epoch, first_record),
                  0};
        look.first = started_at_beginning_;
        look.cut_place = place_;
    }
    if (header.epoch != place_.epoch) {
        look.cut = true;
        look.epoch_before_cut = place_.epoch;
        place_ = {header.epoch, first_record, 0};
        look.cut_place = place_;
    }
    reader.Seek(place_.epoch, place_.offset);
    Record record;
    while (look.bytes < limit && reader.Next(record)) {
        if (record.kind != RecordKind::kText || record.payload.size() <= place_.skip) {
            place_ = {place_.epoch, record.end, 0};
            continue;
        }
        FollowedText text{place_, record.time_ms, record.payload.substr(place_.skip)};
        look.bytes += text.bytes.size();
        look.texts.push_back(std::move(text));
        place_ = {place_.epoch, record.end, 0};
    }
    return look;
}

}  // namespace journal
