// What engine tests compare data files by: the received text a data file
// holds, without its instrument line and its markers, and instrument text
// whose records end in CR only, so that every LF of a data file belongs to
// the instrument line or a marker.
#pragma once

#include <cstddef>
#include <string>

namespace engine_testing {

inline std::string Records(int port, size_t bytes) {
    std::string text;
    for (int n = 0; text.size() < bytes; ++n) {
        text += std::to_string(port) + " " + std::to_string(n) + " 21.50 1013.2\r";
    }
    text.resize(bytes);
    return text;
}

inline bool IsMarker(const std::string& line) {
    return line.size() > 22 && (line.compare(line.size() - 9, 9, "StartTime") == 0 ||
                                line.compare(line.size() - 7, 7, "EndTime") == 0);
}

// Every line but the instrument line and the markers. The last line may
// have no line end: a file whose last block has no end marker ends in the
// instrument's own text.
inline std::string ArchivedText(const std::string& file) {
    std::string text;
    size_t at = file.find('\n') + 1;  // past the instrument line
    while (at != 0 && at < file.size()) {
        const size_t end = file.find('\n', at);
        const std::string line = file.substr(at, end - at);
        if (!IsMarker(line)) {
            text += line;
        }
        at = end + 1;  // 0 past the last line when it has no line end
    }
    return text;
}

}  // namespace engine_testing
