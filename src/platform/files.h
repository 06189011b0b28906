// File-system operations that differ between platforms: the read-only
// attribute, appending under a deny-write lock, the checked append that every
// data, statistics and log file is written with, and the directory write test.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

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

// The bytes of one checked append, handed out piece by piece, so that a
// caller never needs them in one buffer. The helper may ask for them twice
// (its caller may read them once more for a checksum), so Rewind starts over.
class AppendSource {
public:
    virtual ~AppendSource() = default;
    virtual void Rewind() = 0;
    // The next piece; empty once there are no more.
    virtual std::string_view Next() = 0;
};

// Text in the form a text-mode write puts on disk: on Windows every LF becomes
// CR LF (translated in bounded slices), elsewhere the pieces pass unchanged.
// A piece may itself be a source (a long text read back in pieces).
class TextPieces final : public AppendSource {
public:
    TextPieces() = default;
    explicit TextPieces(const std::vector<std::string_view>& pieces) {
        for (std::string_view piece : pieces) {
            Add(piece);
        }
    }
    void Add(std::string_view piece) {
        if (!piece.empty()) {
            pieces_.push_back(Piece{piece, nullptr});
        }
    }
    // `source` must live as long as this.
    void AddSource(AppendSource& source) { pieces_.push_back(Piece{{}, &source}); }
    void Rewind() override;
    std::string_view Next() override;

private:
    struct Piece {
        std::string_view text;
        AppendSource* source;
    };
    // The next untranslated slice of the pieces; empty at the end.
    std::string_view NextSlice();

    std::vector<Piece> pieces_;
    size_t piece_ = 0;
    size_t offset_ = 0;
    std::string scratch_;
};
// Results of AppendToFile. On every failure the file is put back as it was
// before the call: to its old length, or removed again if the call created
// it, and durably so (a power cut afterwards does not bring the failed bytes
// back). When that undo fails too, the file holds part of the failed bytes
// until an UnfinishedAppends puts it back.
inline constexpr int kAppendOk = 0;
inline constexpr int kAppendOpenFailed = -1;   // cannot be opened, or another writer holds it
inline constexpr int kAppendWriteFailed = -2;  // a short or failed write, flush or close
inline constexpr int kAppendRefused = -3;      // before_write declined; nothing was written

// Files that a failed append left holding part of its bytes, because the undo
// failed as well, each with the undo still owed: the file's length before
// that append, or its removal when that append created it. A writer keeps one
// for the files it appends to (AppendOptions::unfinished), so that nothing is
// ever written after part of a block, nor a new file's first block after
// another's part. Not thread-safe: its owner's appends come one at a time.
class UnfinishedAppends {
public:
    // The undo of a failed append to `path` is owed: its removal when the
    // append created it, else a cut back to `length`. An undo already owed
    // for `path` stays: it goes back further.
    void Owe(const std::string& path, bool created, uint64_t length);
    // Makes the undo owed for `path`, if any, durably (cut and synced under
    // the deny-write lock; removed). True when none is owed any more.
    bool PutBack(const std::string& path);
    // Tries every undo owed; true when none is owed any more.
    bool PutBackAll();
    // Owes also what `other` owes.
    void Include(const UnfinishedAppends& other) {
        owed_.insert(other.owed_.begin(), other.owed_.end());
    }
    void Clear() { owed_.clear(); }
    bool empty() const { return owed_.empty(); }

    struct Undo {
        bool remove = false;
        uint64_t length = 0;
        bool operator==(const Undo&) const = default;
    };
    // Every undo owed, by path.
    const std::map<std::string, Undo>& owed() const { return owed_; }

private:
    std::map<std::string, Undo> owed_;
};

struct AppendOptions {
    // Flush to the disk (fdatasync; FlushFileBuffers on Windows) before closing.
    bool sync = false;
    // Called when the file does not exist yet, before it is created, so that
    // no empty file can appear before the caller knows of it; returning false
    // refuses the append.
    std::function<bool()> before_create;
    // Called once the file is open and locked, with its length, before a byte
    // is written; returning false refuses the append.
    std::function<bool(uint64_t length_before)> before_write;
    // The caller's files that earlier failed appends could not put back: the
    // undo owed for `path` is made first, and while it fails nothing is
    // written (kAppendWriteFailed); an undo of this append that fails is
    // added. A caller whose bytes depend on whether the file exists calls
    // PutBack itself before it chooses them.
    UnfinishedAppends* unfinished = nullptr;
};

// The one way the log, data and statistics files are written: clears the
// read-only attribute, opens for appending under the deny-write lock, writes
// every byte of `source` as it stands (binary), flushes, closes and makes the
// file read-only again (also when the open failed). Returns kAppendOk or a
// negative code above.
int AppendToFile(const char* path, AppendSource& source, const AppendOptions& options = {});

// The length of a file in bytes; -1 when it cannot be read.
int64_t FileLength(const char* path);
// Cuts a file back to `length`, keeping its read-only attribute as it was.
bool TruncateFile(const char* path, uint64_t length);
// A file of whole lines whose last line lacks its line end (a power cut tore
// the write that was adding it) is cut back to its last whole line, or to
// nothing when fewer than `least` bytes would remain (a torn header). True
// when the file now ends in a whole line, is empty or does not exist.
bool CutTornLastLine(const char* path, uint64_t least = 0);
// Removes a file (read-only or not). True when it is gone.
bool RemoveFile(const char* path);
// Makes a new directory entry in `directory` durable (POSIX: fsync of the
// directory; nothing to do on Windows).
void SyncDirectory(const char* directory);

// Test seam: asked before every write of AppendToFile and of a DurableFile,
// with the path and the number of bytes; returns how many of them the disk
// takes (fewer: the write comes out short, as on a full disk). nullptr: all.
using WriteFault = size_t (*)(const char* path, size_t size);
void SetWriteFault(WriteFault fault);
// The number of bytes the installed fault lets through (all without one).
size_t AllowedWriteBytes(const char* path, size_t size);

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
