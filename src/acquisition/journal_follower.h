// Follows one port's journal from beside the logger that writes it (in the
// same process or another): the text records appended since the last look,
// with their receive times. Reading never stands in the writer's way: the
// file is opened for reading only, for one look at a time, so the writer may
// cut or remove it meanwhile. When the writer has cut the file (a new epoch)
// the follower goes on from the new beginning and says so.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace journal {

// A place in a journal: a text record's offset under an epoch, and how many
// of its bytes lie before the place.
struct Place {
    uint32_t epoch = 0;
    uint64_t offset = 0;  // a record's beginning (or the end of the records)
    uint64_t skip = 0;    // bytes of that record's text before the place
    friend bool operator==(const Place&, const Place&) = default;
};

// A piece of received text, and where in the journal it began.
struct FollowedText {
    Place place;
    int64_t received_ms = 0;
    std::string bytes;
};

class JournalFollower {
public:
    explicit JournalFollower(std::string path) : path_(std::move(path)) {}

    // Where the next look begins. Without one, the first look begins at the
    // end of what the file holds then (as tail -f does).
    void StartAt(const Place& place) { place_ = place; started_ = true; }
    void StartAtBeginning() { started_at_beginning_ = true; started_ = false; }

    struct Look {
        std::vector<FollowedText> texts;  // in order
        size_t bytes = 0;                 // their total length
        // The writer cut the file (or made it anew) since the last look: the
        // texts begin at the new epoch's beginning, and what the old epoch
        // held after the last place went unread.
        bool cut = false;
        uint32_t epoch_before_cut = 0;
        Place cut_place;  // the new epoch's beginning
        // The first look that found the file, when following from its
        // beginning: the texts begin at `cut_place`, and what earlier epochs
        // held (before the file was first seen) was never read.
        bool first = false;
    };
    // Reads what was appended since the last look, up to about `limit` bytes
    // (whole records). Nothing when the file is missing or its header is
    // being rewritten: the next look tries again.
    Look Next(size_t limit);

    // Where the next look begins.
    const Place& place() const { return place_; }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    Place place_;
    bool started_ = false;
    bool started_at_beginning_ = false;
};

}  // namespace journal
