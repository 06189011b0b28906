#include "platform/directory_listing.h"

#include <cctype>
#include <chrono>
#include <filesystem>
#include <system_error>

namespace platform {
namespace fs = std::filesystem;

namespace {

bool SameLetter(char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
}

}  // namespace

bool MatchesPattern(const std::string& pattern, const std::string& name) {
    // Greedy match with one backtracking point: the last "*" seen.
    std::size_t p = 0;
    std::size_t n = 0;
    std::size_t star = std::string::npos;
    std::size_t resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (p < pattern.size() && (pattern[p] == '?' || SameLetter(pattern[p], name[n]))) {
            ++p;
            ++n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

std::vector<DirectoryEntry> ListMatchingFiles(const std::string& directory,
                                              const std::string& pattern) {
    std::vector<DirectoryEntry> entries;
    std::error_code ec;
    for (auto it = fs::directory_iterator(directory, ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        std::error_code entry_ec;
        if (!it->is_regular_file(entry_ec)) {
            continue;
        }
        const std::string name = it->path().filename().string();
        if (!MatchesPattern(pattern, name)) {
            continue;
        }
        const auto written = it->last_write_time(entry_ec);
        if (entry_ec) {
            continue;
        }
        const auto ns =
            std::chrono::duration_cast<std::chrono::nanoseconds>(written.time_since_epoch());
        entries.push_back({name, static_cast<int64_t>(ns.count())});
    }
    return entries;
}

}  // namespace platform
