// An exclusive lock on a file, held by one open of it: a second open, in this
// process or another, cannot take it while the first holds it, and the lock
// goes with the holder (also when the process dies). Linux: an open file
// description lock (fcntl F_OFD_SETLK); Windows: LockFileEx on a byte far
// beyond any content. Another program can test for the lock without taking
// it (Linux) or by taking and at once releasing a shared one (Windows).
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class LockResult {
    kLocked,  // this object holds the lock now
    kHeld,    // another open holds it
    kFailed,  // the file could not be created or opened; see the error text
};

class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Creates `path` when missing (permissions 0644) and locks it. Once locked,
    // the file's content is replaced by `content` (the holder's identification,
    // for the messages of those that find it locked). `error` receives the
    // system's reason on kFailed.
    LockResult Acquire(const std::string& path, const std::string& content, std::string& error);
    // Lets go of the lock and the file (the file stays).
    void Release();
    bool IsHeld() const;

private:
    std::intptr_t handle_ = -1;  // a file descriptor, or a HANDLE on Windows
};

enum class LockState {
    kFree,     // the file exists and nobody holds its lock
    kHeld,     // somebody holds it
    kMissing,  // there is no such file
    kUnknown,  // the file could not be tested
};
// Tests the lock of `path` without keeping it.
LockState ProbeFileLock(const std::string& path);

// The process identifier of this process, as the lock holders write it.
int64_t OwnProcessId();

}  // namespace platform
