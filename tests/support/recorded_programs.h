// Fake external programs for tests: copies of the record_args helper put in a
// directory at the front of the search path under the names the logger
// starts ("xdg-open", "v.exe", ...). Each run leaves its arguments behind.
#pragma once

#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

class RecordedPrograms {
public:
    // Installs fakes named `names` and points the search path at them.
    explicit RecordedPrograms(const std::vector<std::string>& names);
    ~RecordedPrograms();
    RecordedPrograms(const RecordedPrograms&) = delete;
    RecordedPrograms& operator=(const RecordedPrograms&) = delete;

    // Makes later runs stay until they are ended.
    void StayRunning(bool stay);

    // Waits (up to a generous deadline) until `count` runs have recorded
    // themselves, and returns every run's arguments, argument 0 first.
    std::vector<std::vector<std::string>> WaitForRuns(std::size_t count) const;
    // The runs recorded so far.
    std::vector<std::vector<std::string>> Runs() const;

    const std::string& directory() const { return bin_.path(); }

private:
    TempDir bin_;
    TempDir records_;
    std::string saved_path_;
};

// The names under which the logger starts its programs on this platform.
std::vector<std::string> ViewerProgramNames();

}  // namespace testing_support
