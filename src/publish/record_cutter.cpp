#include "publish/record_cutter.h"

namespace publish {

void RecordCutter::EndWaiting(std::vector<TextRecord>& out) {
    out.push_back({next_seq_++, waiting_last_ms_, std::move(waiting_), waiting_place_});
    waiting_.clear();
}

void RecordCutter::Add(const journal::FollowedText& piece, std::vector<TextRecord>& out) {
    if (!waiting_.empty() && piece.received_ms - waiting_first_ms_ >= kRecordWaitMs) {
        EndWaiting(out);
    }
    const std::string& bytes = piece.bytes;
    size_t begin = 0;
    while (begin < bytes.size()) {
        if (waiting_.empty()) {
            waiting_place_ = {piece.place.epoch, piece.place.offset, piece.place.skip + begin};
            waiting_first_ms_ = piece.received_ms;
        }
        const size_t room = kMaxRecordText - waiting_.size();
        const size_t terminator = bytes.find(terminator_, begin);
        const size_t end = terminator == std::string::npos ? bytes.size() : terminator + 1;
        const size_t take = end - begin < room ? end - begin : room;
        waiting_.append(bytes, begin, take);
        waiting_last_ms_ = piece.received_ms;
        begin += take;
        if ((terminator != std::string::npos && begin == terminator + 1) ||
            waiting_.size() == kMaxRecordText) {
            EndWaiting(out);
        }
    }
    after_ = {piece.place.epoch, piece.place.offset, piece.place.skip + bytes.size()};
}

void RecordCutter::EndIfWaited(int64_t now_ms, std::vector<TextRecord>& out) {
    if (!waiting_.empty() && now_ms - waiting_first_ms_ >= kRecordWaitMs) {
        EndWaiting(out);
    }
}

void RecordCutter::AfterCut(const journal::Place& place, std::vector<TextRecord>& out) {
    if (!waiting_.empty()) {
        EndWaiting(out);
    }
    after_ = place;
}

}  // namespace publish
