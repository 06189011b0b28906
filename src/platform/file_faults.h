// A test seam under every change the program makes to its files: the checked
// appends of the log, data and statistics files, the journals, truncations,
// removals, renames and syncs all ask it first, and tell it afterwards what
// took effect. A test installs one to make operations fail (a full disk, an
// I/O error, a refused permission), to cut writes short, or to let nothing
// through from some moment on (the process died there), and to know which
// writes were made durable, so that it can play a power cut afterwards.
// Nothing in the program installs one; without one each operation costs a
// single atomic load more.
#pragma once

#include <cstddef>
#include <cstdint>

namespace platform {

enum class FileOperation : uint8_t {
    kOpen,      // opening a file for writing (`creates`: it does not exist yet)
    kWrite,     // `size` bytes of `data` at `offset`
    kSync,      // everything written to `path` made durable; for a directory, its entries
    kTruncate,  // the file cut (or extended) to `offset` bytes
    kRename,    // `path` takes the name `new_path`
    kRemove,    // the directory entry `path` goes
};

struct FileAccess {
    FileOperation operation = FileOperation::kOpen;
    const char* path = "";
    const char* new_path = nullptr;
    uint64_t offset = 0;
    const char* data = nullptr;
    size_t size = 0;
    bool creates = false;
};

struct FileVerdict {
    // An errno value: the operation fails with it and touches nothing.
    int error = 0;
    // A write: how many of its first bytes reach the file (fewer than asked:
    // the write comes out short, as on a disk that has just filled up).
    size_t bytes = SIZE_MAX;
};

class FileFaults {
public:
    virtual ~FileFaults() = default;
    // Asked before the operation; called on the thread that does it, so it
    // must be safe to call from several threads.
    virtual FileVerdict Before(const FileAccess& access) = 0;
    // After an operation that took effect (a write's `size` is what reached
    // the file).
    virtual void After(const FileAccess& access) { (void)access; }
};

// Installs `faults` (nullptr: none). The caller keeps it alive while installed.
void SetFileFaults(FileFaults* faults);
bool FileFaultsInstalled();

// For the platform layer's own use. Asks the installed seam about `access`:
// returns 0 to go ahead, with a write's `size` cut to what may reach the
// file, or the errno value the operation must fail with (also set in errno).
int CheckFileAccess(FileAccess& access);
// Tells the installed seam that `access` took effect.
void ReportFileAccess(const FileAccess& access);

}  // namespace platform
