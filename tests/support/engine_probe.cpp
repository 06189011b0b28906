#include "support/engine_probe.h"

#include <cstdio>
#include <sstream>

namespace engine_testing {

std::string WholeRecords(int first, int count) {
    std::string text;
    for (int n = first; n < first + count; ++n) {
        char record[96];  // 64 bytes for any n below a million
        std::snprintf(record, sizeof record, "%06d %056d\n", n, n * 7);
        text += record;
    }
    return text;
}

std::vector<std::string> LogLines(const std::string& log) {
    std::vector<std::string> lines;
    std::istringstream in(log);
    std::string line;
    int header = 3;  // title, empty line, column line
    while (std::getline(in, line)) {
        if (header > 0) {
            --header;
            continue;
        }
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> LogMessages(const std::string& log) {
    std::vector<std::string> messages;
    for (const std::string& line : LogLines(log)) {
        // "MM/DD/YY HH:MM:SS:mmm  " is 23 characters
        messages.push_back(line.size() >= 23 ? line.substr(23) : line);
    }
    return messages;
}

std::vector<std::string> LinesWithCodes(const std::string& log,
                                        const std::vector<std::string>& codes) {
    std::vector<std::string> found;
    for (const std::string& m : LogMessages(log)) {
        for (const std::string& code : codes) {
            if (m.rfind(code + "  ", 0) == 0) {
                found.push_back(m);
            }
        }
    }
    return found;
}

}  // namespace engine_testing
