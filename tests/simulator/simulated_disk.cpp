#include "simulated_disk.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>

#include "random.h"
#include "support/temp_dir.h"

namespace simulation {
namespace fs = std::filesystem;

namespace {

using platform::FileAccess;
using platform::FileOperation;
using platform::FileVerdict;

constexpr size_t kMostEvents = 200;

bool EndsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string ParentOf(const std::string& path) {
    const size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? std::string(".") : path.substr(0, cut);
}

std::string NameOf(const std::string& path) {
    const size_t cut = path.find_last_of('/');
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

const char* OperationName(FileOperation operation) {
    switch (operation) {
        case FileOperation::kOpen:
            return "open";
        case FileOperation::kWrite:
            return "write";
        case FileOperation::kSync:
            return "sync";
        case FileOperation::kTruncate:
            return "truncate";
        case FileOperation::kRename:
            return "rename";
        case FileOperation::kRemove:
            return "remove";
    }
    return "?";
}

void Apply(std::string& content, const std::string& bytes, uint64_t offset) {
    if (content.size() < offset + bytes.size()) {
        content.resize(offset + bytes.size(), '\0');
    }
    content.replace(offset, bytes.size(), bytes);
}

// Puts `content` into the file, whatever its read-only attribute, which it keeps.
void Rewrite(const std::string& path, const std::string& content) {
    std::error_code ec;
    const bool existed = fs::exists(path, ec);
    const fs::perms perms = existed ? fs::status(path, ec).permissions() : fs::perms::none;
    if (existed) {
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    }
    testing_support::WriteFile(path, content);
    if (existed) {
        fs::permissions(path, perms, fs::perm_options::replace, ec);
    }
}

// The log entries in a log file's text: its lines that begin with a stamp.
int EntryLines(const std::string& text) {
    int entries = 0;
    for (size_t at = 0; at < text.size();) {
        const size_t end = text.find('\n', at);
        const size_t length = (end == std::string::npos ? text.size() : end) - at;
        entries += length > 8 && text[at + 2] == '/' && text[at + 5] == '/' ? 1 : 0;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return entries;
}

}  // namespace

uint32_t FileKindOf(const std::string& path) {
    const std::string name = NameOf(path);
    if (EndsWith(name, ".LOG")) {
        return kLogFile;
    }
    if (EndsWith(name, ".sta")) {
        return kStatisticsFile;
    }
    if (ParentOf(path).size() >= 8 && EndsWith(ParentOf(path), "/journal")) {
        return kJournalFile;
    }
    const size_t dot = name.rfind(".P");
    if (dot != std::string::npos && name.size() == dot + 4) {
        return kDataFile;
    }
    return kOtherFile;
}

SimulatedDisk::SimulatedDisk(uint32_t power_cut_kinds) : power_cut_kinds_(power_cut_kinds) {}

SimulatedDisk::~SimulatedDisk() = default;

int SimulatedDisk::died_making_log_entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return died_making_log_entries_;
}

std::set<std::string> SimulatedDisk::died_on() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return died_on_;
}

void SimulatedDisk::BeginLife(const FilePlan& plan) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_ = plan;
    operations_ = 0;
    frozen_ = false;
    died_making_log_entries_ = 0;
}

void SimulatedDisk::DieAtNextOperation() {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.crash_at = operations_ + 1;
}

void SimulatedDisk::DieAfter(int64_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    plan_.crash_at = count > 0 ? operations_ + count : 0;
}

bool SimulatedDisk::frozen() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frozen_;
}

std::vector<std::string> SimulatedDisk::TakeEvents() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> events;
    events.swap(events_);
    return events;
}

void SimulatedDisk::Event(const std::string& text) {
    if (events_.size() < kMostEvents) {
        events_.push_back(text);
    }
}

FileVerdict SimulatedDisk::Before(const FileAccess& access) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = access.path;
    const bool directory = access.operation == FileOperation::kSync && fs::is_directory(path);
    if (!directory && !frozen_) {
        Adopt(path);
    }
    const FileVerdict verdict = Decide(access);
    Trace(access, verdict);
    return verdict;
}

// With QUORVANE_SIMULATOR_TRACE set, every operation and its verdict go to
// standard error: what a failing seed's engine did, step by step.
void SimulatedDisk::Trace(const FileAccess& access, const FileVerdict& verdict) const {
    static const bool tracing = std::getenv("QUORVANE_SIMULATOR_TRACE") != nullptr;
    if (!tracing) {
        return;
    }
    std::fprintf(stderr, "  op %lld %s %s offset %llu size %zu%s",
                 static_cast<long long>(operations_), OperationName(access.operation),
                 NameOf(access.path).c_str(), static_cast<unsigned long long>(access.offset),
                 access.size, frozen_ ? " (dead)" : "");
    if (verdict.error != 0) {
        std::fprintf(stderr, ": %s", std::strerror(verdict.error));
    } else if (verdict.bytes < access.size) {
        std::fprintf(stderr, ": short, %zu", verdict.bytes);
    }
    std::fputc('\n', stderr);
}

FileVerdict SimulatedDisk::Decide(const FileAccess& access) {
    FileVerdict verdict;
    if (frozen_) {
        verdict.error = EIO;
        return verdict;
    }
    const int64_t op = ++operations_;
    const std::string path = access.path;
    const uint32_t kind = FileKindOf(path);
    const std::string what =
        "op " + std::to_string(op) + " " + OperationName(access.operation) + " " + NameOf(path);
    if (!(access.operation == FileOperation::kSync && fs::is_directory(path))) {
        last_kind_ = kind;
        last_path_ = path;
    }
    const bool directory_sync = access.operation == FileOperation::kSync && fs::is_directory(path);
    if (op == plan_.crash_at) {
        frozen_ = true;
        Event(what + ": the process dies here");
        died_on_.insert(NameOf(path));
        // The sync of the directory that ends a new log file's append: the
        // append already counts as done, and its entries die with the name.
        if (directory_sync && last_kind_ == kLogFile && names_.count(last_path_) != 0) {
            died_making_log_entries_ = EntryLines(names_[last_path_]->current);
        }
        verdict.error = EIO;
        return verdict;
    }
    const bool adds = access.operation == FileOperation::kWrite ||
                      (access.operation == FileOperation::kOpen && access.creates);
    if (adds && op >= plan_.full_from && op < plan_.full_to) {
        Event(what + ": disk full");
        verdict.error = ENOSPC;
        return verdict;
    }
    const bool undoes =
        access.operation == FileOperation::kTruncate || access.operation == FileOperation::kRemove;
    if ((plan_.targets & kind) == 0 || plan_.per_mille == 0 || (undoes && !plan_.undo_faults)) {
        return verdict;
    }
    Random random(plan_.seed ^ (static_cast<uint64_t>(op) * 0x9E3779B97F4A7C15ull));
    if (random.Below(1000) >= static_cast<uint64_t>(plan_.per_mille)) {
        return verdict;
    }
    const uint64_t choice = random.Below(3);
    switch (access.operation) {
        case FileOperation::kOpen:
            verdict.error = choice == 0 ? EACCES : (choice == 1 && access.creates ? ENOSPC : EIO);
            break;
        case FileOperation::kWrite:
            if (choice == 2 && access.size > 0) {
                verdict.bytes = random.Below(access.size);
                Event(what + ": short, " + std::to_string(verdict.bytes) + " of " +
                      std::to_string(access.size) + " bytes");
                return verdict;
            }
            verdict.error = choice == 0 ? ENOSPC : EIO;
            break;
        case FileOperation::kSync:
        case FileOperation::kTruncate:
            verdict.error = EIO;
            break;
        case FileOperation::kRename:
        case FileOperation::kRemove:
            verdict.error = choice == 0 ? EACCES : EIO;
            break;
    }
    Event(what + ": " + std::strerror(verdict.error));
    return verdict;
}

// A file the shadow has not seen yet is taken as it stands, as durable.
void SimulatedDisk::Adopt(const std::string& path) {
    if (names_.count(path) != 0) {
        return;
    }
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        return;
    }
    auto inode = std::make_shared<Inode>();
    inode->durable = testing_support::ReadFile(path);
    inode->current = inode->durable;
    names_[path] = inode;
    durable_names_[path] = inode;
}

void SimulatedDisk::After(const FileAccess& access) {
    std::lock_guard<std::mutex> lock(mutex_);
    const std::string path = access.path;
    switch (access.operation) {
        case FileOperation::kOpen:
            if (names_.count(path) == 0) {
                names_[path] = std::make_shared<Inode>();
            }
            break;
        case FileOperation::kWrite:
            if (const auto it = names_.find(path); it != names_.end() && access.size > 0) {
                Change change;
                change.offset = access.offset;
                change.bytes.assign(access.data, access.size);
                Apply(it->second->current, change.bytes, change.offset);
                it->second->pending.push_back(std::move(change));
            }
            break;
        case FileOperation::kTruncate:
            if (const auto it = names_.find(path); it != names_.end()) {
                Change change;
                change.truncate = true;
                change.offset = access.offset;
                it->second->current.resize(access.offset, '\0');
                it->second->pending.push_back(std::move(change));
            }
            break;
        case FileOperation::kSync:
            if (const auto it = names_.find(path); it != names_.end()) {
                it->second->durable = it->second->current;
                it->second->pending.clear();
            } else {
                // A directory: its entries as they are now become durable.
                std::set<std::string> paths;
                for (const auto& [name, inode] : names_) {
                    paths.insert(name);
                }
                for (const auto& [name, inode] : durable_names_) {
                    paths.insert(name);
                }
                for (const std::string& name : paths) {
                    if (ParentOf(name) != path) {
                        continue;
                    }
                    const auto now = names_.find(name);
                    if (now == names_.end()) {
                        durable_names_.erase(name);
                    } else {
                        durable_names_[name] = now->second;
                    }
                }
            }
            break;
        case FileOperation::kRename:
            if (const auto it = names_.find(path);
                it != names_.end() && access.new_path != nullptr) {
                names_[access.new_path] = it->second;
                names_.erase(it);
            }
            break;
        case FileOperation::kRemove:
            names_.erase(path);
            break;
    }
}

std::string SimulatedDisk::Recover(bool unsynced_survives) {
    std::lock_guard<std::mutex> lock(mutex_);
    std::string report;
    if (plan_.power_cut) {
        report = PowerCut();
    } else if (!unsynced_survives) {
        for (auto& [name, inode] : names_) {
            inode->durable = inode->current;
            inode->pending.clear();
        }
        durable_names_ = names_;
    }
    frozen_ = false;
    plan_ = FilePlan{};
    return report;
}

std::string SimulatedDisk::PowerCut() {
    Random random(plan_.seed ^ 0x5DEECE66Dull);
    std::set<std::string> paths;
    for (const auto& [name, inode] : names_) {
        paths.insert(name);
    }
    for (const auto& [name, inode] : durable_names_) {
        paths.insert(name);
    }
    std::string report;
    for (const std::string& path : paths) {
        const auto now_it = names_.find(path);
        const auto durable_it = durable_names_.find(path);
        const InodePtr now = now_it == names_.end() ? nullptr : now_it->second;
        const InodePtr durable = durable_it == durable_names_.end() ? nullptr : durable_it->second;
        const bool cuts = (FileKindOf(path) & power_cut_kinds_) != 0;
        InodePtr chosen = now;
        if (cuts && now != durable && random.Percent(50)) {
            chosen = durable;
            report +=
                " " + NameOf(path) + (durable ? ": name back to its old file" : ": name lost");
        }
        std::error_code ec;
        if (!chosen) {
            fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
            fs::remove(path, ec);
            names_.erase(path);
            durable_names_.erase(path);
            continue;
        }
        if (cuts && !chosen->pending.empty()) {
            const size_t kept = random.Below(chosen->pending.size() + 1);
            std::string content = chosen->durable;
            for (size_t c = 0; c < chosen->pending.size() && c <= kept; ++c) {
                const Change& change = chosen->pending[c];
                if (change.truncate) {
                    if (c < kept) {
                        content.resize(change.offset, '\0');
                    }
                    continue;
                }
                // The first change lost may reach the disk in part.
                const size_t length =
                    c < kept ? change.bytes.size()
                             : (random.Percent(50) ? random.Below(change.bytes.size() + 1) : 0);
                if (length > 0) {
                    Apply(content, change.bytes.substr(0, length), change.offset);
                }
            }
            if (content != chosen->current) {
                report += " " + NameOf(path) + ": " + std::to_string(chosen->current.size()) +
                          " bytes back to " + std::to_string(content.size());
            }
            chosen->current = content;
        }
        chosen->durable = chosen->current;
        chosen->pending.clear();
        if (chosen != now || cuts) {
            Rewrite(path, chosen->current);
        }
        names_[path] = chosen;
        durable_names_[path] = chosen;
    }
    return report.empty() ? "power cut: nothing unsynced was lost" : "power cut:" + report;
}

}  // namespace simulation
