// Full disks on demand: installs the platform's write-fault seam so that
// checked writes (data, statistics and log files, journals) come out short,
// for as long as the object lives. Safe to use while another thread writes.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

class WriteFaults {
public:
    WriteFaults();
    ~WriteFaults();
    WriteFaults(const WriteFaults&) = delete;
    WriteFaults& operator=(const WriteFaults&) = delete;

    // Every write to a path containing `part` takes at most `bytes` (0: none)
    // until Clear().
    void LimitPathsContaining(const std::string& part, size_t bytes = 0);
    // The `nth` write from now (1: the next) to a path containing `part`
    // takes only `bytes`.
    void ShortenWrite(const std::string& part, int nth, size_t bytes);
    // Space is back: every write takes everything again.
    void Clear();
    // Writes asked for so far to paths containing `part`.
    int WritesTo(const std::string& part) const;
};

}  // namespace testing_support
