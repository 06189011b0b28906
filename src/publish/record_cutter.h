// A port's received text as the records a consumer wants, one message each:
// cut after the port's StringTerminationCharacter, the terminator kept. Text
// that has waited a second without one goes as it is. The cut depends only
// on the journal's text and receive times, so that text read again from the
// journal after a restart is cut the same way and keeps its numbers.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "acquisition/journal_follower.h"

namespace publish {

// How long text without a terminator waits, counted from its first byte.
inline constexpr int64_t kRecordWaitMs = 1000;
// A message holds at most this much text; longer text without a terminator
// is cut into pieces of it.
inline constexpr size_t kMaxRecordText = 64 * 1024;

struct TextRecord {
    int64_t seq = 0;          // the port's number of the message, from 1
    int64_t received_ms = 0;  // when its last byte was received (UTC milliseconds)
    std::string text;
    journal::Place place;  // where its first byte lies in the journal
};

class RecordCutter {
public:
    RecordCutter(char terminator, int64_t next_seq) : terminator_(terminator), next_seq_(next_seq) {}

    // Adds the next piece of the port's text; the records it completes go to `out`.
    void Add(const journal::FollowedText& piece, std::vector<TextRecord>& out);
    // Once everything received so far has been added: ends the waiting
    // text when it has waited kRecordWaitMs by `now_ms`.
    void EndIfWaited(int64_t now_ms, std::vector<TextRecord>& out);
    // The journal was cut: the waiting text ends now (the text that follows
    // lies under a new epoch, and a record is not carried across), and the
    // next piece begins at `place`.
    void AfterCut(const journal::Place& place, std::vector<TextRecord>& out);

    // Where the next record begins, and its number.
    journal::Place next_place() const { return waiting_.empty() ? after_ : waiting_place_; }
    int64_t next_seq() const { return next_seq_; }
    size_t waiting_bytes() const { return waiting_.size(); }

private:
    void EndWaiting(std::vector<TextRecord>& out);

    char terminator_;
    int64_t next_seq_;
    std::string waiting_;  // text of the record begun
    journal::Place waiting_place_;
    int64_t waiting_first_ms_ = 0;
    int64_t waiting_last_ms_ = 0;
    journal::Place after_;  // where the next piece begins
};

}  // namespace publish
