// A logger's hold on its output directory, from the accepted configuration to
// the end: the lock that keeps a second logger out of the same directory, and
// the status file. Both front ends of the window (through the document) and
// the headless run take it the same way, as they log the start-up the same way.
#pragma once

#include <memory>
#include <string>

#include "config/com_config.h"
#include "platform/file_lock.h"
#include "publish/publisher.h"
#include "station/station_status.h"

// The lock file's name in the output directory. It holds the process
// identifier of the logger that holds it.
inline constexpr char kLockFileName[] = "quorvane.lock";

// Exit statuses of a logger that cannot take its directory (sysexits.h).
inline constexpr int kExitStationBusy = 75;      // another logger holds it
inline constexpr int kExitStationUnusable = 73;  // the lock file cannot be made

enum class StationClaim {
    kClaimed,
    kBusy,      // another logger holds the directory
    kUnusable,  // the lock file cannot be created or opened
};

class StationSession {
public:
    StationSession() = default;
    ~StationSession();
    StationSession(const StationSession&) = delete;
    StationSession& operator=(const StationSession&) = delete;

    // Takes `directory` for this logger: its lock, then its status file with
    // the page as it stands. When this session holds that directory already,
    // only the status file starts again from the page. On kBusy and kUnusable
    // `message` tells the operator why, and the session keeps what it held.
    StationClaim Claim(const std::string& directory, std::string& message);
    // Claims the configuration's output directory, and publishes the station
    // where its PublishTo asks (started before acquisition can start, so
    // that what an earlier run left in the journals is published too).
    StationClaim Claim(const ComConfig& config, std::string& message);
    // Stops publishing (delivering what it can for a moment) and the status
    // file, and releases the lock.
    void Close();
    bool IsOpen() const { return lock_ != nullptr; }
    const std::string& Directory() const { return directory_; }

private:
    std::string directory_;
    std::unique_ptr<platform::FileLock> lock_;
    std::unique_ptr<StationStatusMirror> mirror_;
    std::unique_ptr<publish::Publisher> publisher_;
};

// The exit status that goes with a claim that failed.
int ExitStatusOf(StationClaim claim);

// The message for a directory that another logger (process `holder`, 0 when
// unknown) holds.
std::string StationBusyMessage(const std::string& directory, int64_t holder);

// The holder's process identifier from a lock file's content; 0 when none.
int64_t LockHolderOf(const std::string& lock_file);

// The start-up entries 00 and 01 go to the output directory that the reader
// left in `config`, and nowhere when it left none: a file that cannot be read
// names no directory, and an empty name would put the log in the current
// directory's root.
void LogToOutputDirectory(const ComConfig& config, const char* message);
