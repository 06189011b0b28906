// File-system operations that differ between platforms: the read-only
// attribute, appending under a deny-write lock, and the directory write test.
#pragma once

#include <cstdio>
#include <string>

namespace platform {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True when something (file or directory) exists at `path`.
bool PathExists(const char* path);

// Sets or clears the read-only attribute. On POSIX "read-only" means no write
// permission bits; clearing it gives the owner write permission back.
// Best effort: failures are ignored, as the callers do nothing about them.
void SetReadOnly(const char* path, bool read_only);
bool IsReadOnly(const char* path);

// Opens `path` for reading and appending in text mode ("at+"), creating it
// when missing, while denying write access to every other opener until
// CloseLocked. Returns null when the file cannot be opened or another opener
// holds it. On Windows this is the C runtime's shared open with deny-write;
// on POSIX an exclusive advisory lock held for the lifetime of the stream.
std::FILE* OpenAppendDenyWrite(const char* path);
// Closes a stream of OpenAppendDenyWrite, releasing the lock. 0 on success.
int CloseLocked(std::FILE* file);

enum class DirectoryAccess {
    kWritable,  // exists and may be written
    kDenied,    // exists, but write access is refused (permissions, read-only medium)
    kMissing,   // no such directory (also: the path names something that is not a directory)
    kOther,     // the test failed for another reason
};
DirectoryAccess TestDirectoryWritable(const char* path);

// Joins a directory and a file name with the platform's separator.
std::string JoinPath(const std::string& directory, const std::string& name);

}  // namespace platform
