#include "support/write_faults.h"

#include <mutex>
#include <vector>

#include "platform/files.h"

namespace testing_support {
namespace {

struct Rule {
    std::string part;
    bool every;     // shortens every matching write
    int countdown;  // else: matching writes up to the one it shortens (then used up)
    size_t bytes;
};

std::mutex g_mutex;
std::vector<Rule> g_rules;
std::vector<std::string> g_paths;  // every path asked for, in order

size_t Fault(const char* path, size_t size) {
    std::lock_guard<std::mutex> lock(g_mutex);
    const std::string text = path;
    g_paths.push_back(text);
    size_t allowed = size;
    for (Rule& rule : g_rules) {
        if (text.find(rule.part) == std::string::npos) {
            continue;
        }
        const bool applies = rule.every || (rule.countdown > 0 && --rule.countdown == 0);
        if (applies && rule.bytes < allowed) {
            allowed = rule.bytes;
        }
    }
    return allowed;
}

}  // namespace

WriteFaults::WriteFaults() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.clear();
    g_paths.clear();
    platform::SetWriteFault(Fault);
}

WriteFaults::~WriteFaults() {
    platform::SetWriteFault(nullptr);
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.clear();
}

void WriteFaults::LimitPathsContaining(const std::string& part, size_t bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.push_back({part, true, 0, bytes});
}

void WriteFaults::ShortenWrite(const std::string& part, int nth, size_t bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.push_back({part, false, nth, bytes});
}

void WriteFaults::Clear() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_rules.clear();
}

int WriteFaults::WritesTo(const std::string& part) const {
    std::lock_guard<std::mutex> lock(g_mutex);
    int count = 0;
    for (const std::string& path : g_paths) {
        count += path.find(part) != std::string::npos ? 1 : 0;
    }
    return count;
}

}  // namespace testing_support
