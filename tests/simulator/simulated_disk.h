// The disk under the engine, as the simulator plays it: every file operation
// of the engine passes here first (platform/file_faults.h). Following a life's
// FilePlan it fails operations, cuts writes short, fills the disk for a
// while, and at the chosen operation lets the process die: from then on
// nothing the dead process does reaches a file ("the disk freezes"). It keeps
// a shadow of every file it saw written, as the disk holds it durably and as
// the process sees it, so that after a crash it can play a power cut: writes
// reach the disk in the order they were made, and of those not yet synced a
// power cut keeps a prefix, the last of which may be torn; a new or removed
// name that its directory's sync has not made durable may be undone.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/file_faults.h"
#include "schedule.h"

namespace simulation {

// What kind of file a path names (FileKind).
uint32_t FileKindOf(const std::string& path);

class SimulatedDisk final : public platform::FileFaults {
public:
    // `power_cut_kinds`: the FileKinds a power cut may undo writes of; the
    // others keep everything written, as after a crash of the process alone.
    explicit SimulatedDisk(uint32_t power_cut_kinds);
    ~SimulatedDisk() override;
    SimulatedDisk(const SimulatedDisk&) = delete;
    SimulatedDisk& operator=(const SimulatedDisk&) = delete;

    // A new life of the engine: its faults; operations count from 1 again.
    void BeginLife(const FilePlan& plan);
    // The process dies at its next file operation; or at its `count`th from
    // now (0: never).
    void DieAtNextOperation();
    void DieAfter(int64_t count);
    // True once the process has died at its crash operation.
    bool frozen() const;
    // After the dead process is gone: the disk as the crash leaves it (a
    // power cut when the plan says so), then a disk that works again. What
    // a crash of the process alone left unsynced stays so (a later power
    // cut may lose it) only with `unsynced_survives`; else the system writes
    // it back before the next life. Returns what the power cut did.
    std::string Recover(bool unsynced_survives);

    // The files (by name) at whose operation a process died: a crash may
    // leave such a file made and still empty.
    std::set<std::string> died_on() const;
    // The log entries of the append this life died in after its write had
    // returned (at the directory sync that makes a new log file's name
    // durable): all the entries of that new file.
    int died_making_log_entries() const;
    // The faults made so far, one line each, and forgets them.
    std::vector<std::string> TakeEvents();

    platform::FileVerdict Before(const platform::FileAccess& access) override;
    void After(const platform::FileAccess& access) override;

private:
    struct Change {
        bool truncate = false;
        uint64_t offset = 0;  // a truncation: the new length
        std::string bytes;
    };
    struct Inode {
        std::string durable;          // what survives any power cut
        std::string current;          // what the process sees
        std::vector<Change> pending;  // since the last sync, in order
    };
    using InodePtr = std::shared_ptr<Inode>;

    platform::FileVerdict Decide(const platform::FileAccess& access);
    void Adopt(const std::string& path);
    void Event(const std::string& text);
    void Trace(const platform::FileAccess& access, const platform::FileVerdict& verdict) const;
    std::string PowerCut();

    mutable std::mutex mutex_;
    uint32_t power_cut_kinds_;
    FilePlan plan_;
    int64_t operations_ = 0;
    bool frozen_ = false;
    std::vector<std::string> events_;
    std::map<std::string, InodePtr> names_;  // as the process sees them
    std::map<std::string, InodePtr> durable_names_;
    std::set<std::string> died_on_;
    uint32_t last_kind_ = 0;              // of the last operation on a file
    int died_making_log_entries_ = 0;
    std::string last_path_;  // of the last operation on a file
};

}  // namespace simulation
