// Listing the files of a directory with their last-write times, chosen by a
// wildcard pattern that ignores case, as the Windows file search does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct DirectoryEntry {
    std::string name;       // without the directory
    int64_t last_write_ns;  // last-write time, nanoseconds on the file system's clock
};

// True when `name` matches `pattern`: "*" stands for any run of characters,
// "?" for one character, every other character for itself in either case.
bool MatchesPattern(const std::string& pattern, const std::string& name);

// The regular files of `directory` whose names match `pattern`, in the order
// in which the file system lists them. Empty when the directory cannot be read.
std::vector<DirectoryEntry> ListMatchingFiles(const std::string& directory,
                                              const std::string& pattern);

}  // namespace platform
