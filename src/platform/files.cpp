#include "platform/files.h"

#include <atomic>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/file_faults.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {
namespace fs = std::filesystem;

namespace {

std::atomic<WriteFault> g_write_fault{nullptr};

// The directory part of a path ("." when it has none).
std::string ParentOf(const char* path) {
    const std::string text = path;
    const size_t cut = text.find_last_of(kPathSeparator);
    return cut == std::string::npos ? std::string(".") : text.substr(0, cut);
}

}  // namespace

void SetWriteFault(WriteFault fault) {
    g_write_fault.store(fault);
}

size_t AllowedWriteBytes(const char* path, size_t size) {
    const WriteFault fault = g_write_fault.load();
    if (fault == nullptr) {
        return size;
    }
    const size_t allowed = fault(path, size);
    return allowed < size ? allowed : size;
}

void TextPieces::Rewind() {
    piece_ = 0;
    offset_ = 0;
    for (Piece& piece : pieces_) {
        if (piece.source != nullptr) {
            piece.source->Rewind();
        }
    }
}

std::string_view TextPieces::NextSlice() {
    // Bounded slices, so a long period never needs a second full copy.
    constexpr size_t kSlice = 64 * 1024;
    while (piece_ < pieces_.size()) {
        Piece& piece = pieces_[piece_];
        if (piece.source != nullptr) {
            const std::string_view next = piece.source->Next();
            if (!next.empty()) {
                return next;
            }
        } else if (offset_ < piece.text.size()) {
            const std::string_view slice = piece.text.substr(offset_, kSlice);
            offset_ += slice.size();
            return slice;
        }
        ++piece_;
        offset_ = 0;
    }
    return {};
}

std::string_view TextPieces::Next() {
    const std::string_view slice = NextSlice();
#ifdef _WIN32
    scratch_.clear();
    for (char c : slice) {
        if (c == '\n') {
            scratch_ += '\r';
        }
        scratch_ += c;
    }
    return scratch_;
#else
    return slice;
#endif
}

bool PathExists(const char* path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

void SetReadOnly(const char* path, bool read_only) {
    std::error_code ec;
    const auto write_bits =
        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
    if (read_only) {
        fs::permissions(path, write_bits, fs::perm_options::remove, ec);
    } else {
        fs::permissions(path, fs::perms::owner_write, fs::perm_options::add, ec);
    }
}

bool IsReadOnly(const char* path) {
    std::error_code ec;
    const auto st = fs::status(path, ec);
    if (ec) {
        return false;
    }
    return (st.permissions() & fs::perms::owner_write) == fs::perms::none;
}

#ifdef _WIN32

std::FILE* OpenAppendDenyWrite(const char* path) {
    return _fsopen(path, "at+", _SH_DENYWR);
}

int CloseLocked(std::FILE* file) {
    return std::fclose(file);
}

namespace {

// A file open for appending in binary, denying write access to other openers.
class LockedAppend {
public:
    ~LockedAppend() { Close(); }
    bool Open(const char* path) {
        return _sopen_s(&fd_, path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _SH_DENYWR,
                        _S_IREAD | _S_IWRITE) == 0;
    }
    int64_t Length() { return _filelengthi64(fd_); }
    bool Write(const char* data, size_t size) {
        while (size > 0) {
            const unsigned chunk = size > (1u << 30) ? (1u << 30) : static_cast<unsigned>(size);
            const int written = _write(fd_, data, chunk);
            if (written <= 0) {
                return false;
            }
            data += written;
            size -= static_cast<size_t>(written);
        }
        return true;
    }
    bool Sync() { return _commit(fd_) == 0; }
    bool Truncate(uint64_t length) { return _chsize_s(fd_, static_cast<__int64>(length)) == 0; }
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = _close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_ = -1;
};

}  // namespace

// NTFS makes the entry durable with the file: only the seam hears of it.
void SyncDirectory(const char* directory) {
    FileAccess access{FileOperation::kSync, directory};
    if (CheckFileAccess(access) == 0) {
        ReportFileAccess(access);
    }
}

DirectoryAccess TestDirectoryWritable(const char* path) {
    std::error_code ec;
    if (!fs::is_directory(fs::path(path), ec)) {
        return ec && ec != std::errc::no_such_file_or_directory ? DirectoryAccess::kOther
                                                                : DirectoryAccess::kMissing;
    }
    if (_access(path, 2) == 0) {
        return DirectoryAccess::kWritable;
    }
    return errno == EACCES ? DirectoryAccess::kDenied : DirectoryAccess::kOther;
}

#else

std::FILE* OpenAppendDenyWrite(const char* path) {
    const int fd = ::open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    // A second writer fails at once, as a sharing violation would on Windows.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    std::FILE* file = ::fdopen(fd, "a+");
    if (file == nullptr) {
        ::close(fd);
    }
    return file;
}

int CloseLocked(std::FILE* file) {
    return std::fclose(file);
}  // closing the fd drops the lock

namespace {

// A file open for appending, locked as OpenAppendDenyWrite locks it.
class LockedAppend {
public:
    ~LockedAppend() { Close(); }
    bool Open(const char* path) {
        fd_ = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0) {
            return false;
        }
        if (::flock(fd_, LOCK_EX | LOCK_NB) != 0) {
            Close();
            return false;
        }
        return true;
    }
    int64_t Length() {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    bool Write(const char* data, size_t size) {
        while (size > 0) {
            const ssize_t written = ::write(fd_, data, size);
            if (written < 0 && errno == EINTR) {
                continue;
            }
            if (written <= 0) {
                return false;
            }
            data += written;
            size -= static_cast<size_t>(written);
        }
        return true;
    }
    bool Sync() { return ::fdatasync(fd_) == 0; }
    bool Truncate(uint64_t length) { return ::ftruncate(fd_, static_cast<off_t>(length)) == 0; }
    bool Close() {
        if (fd_ < 0) {
            return true;
        }
        const int result = ::close(fd_);
        fd_ = -1;
        return result == 0;
    }

private:
    int fd_ = -1;
};

}  // namespace

void SyncDirectory(const char* directory) {
    FileAccess access{FileOperation::kSync, directory};
    if (CheckFileAccess(access) != 0) {
        return;
    }
    const int fd = ::open(directory, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        if (::fsync(fd) == 0) {
            ReportFileAccess(access);
        }
        ::close(fd);
    }
}

DirectoryAccess TestDirectoryWritable(const char* path) {
    std::error_code ec;
    const auto status = fs::status(fs::path(path), ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        return ec == std::errc::permission_denied ? DirectoryAccess::kDenied
                                                  : DirectoryAccess::kOther;
    }
    if (!fs::is_directory(status)) {
        return DirectoryAccess::kMissing;
    }
    if (::access(path, W_OK) == 0) {
        return DirectoryAccess::kWritable;
    }
    switch (errno) {
        case EACCES:
        case EPERM:
        case EROFS:
            return DirectoryAccess::kDenied;
        case ENOENT:
        case ENOTDIR:
            return DirectoryAccess::kMissing;
        default:
            return DirectoryAccess::kOther;
    }
}

#endif

namespace {

// Puts a failed append's file back as it was: removed if the append created
// it, else cut back to its old length. False when that failed.
bool Restore(const char* path, bool existed, uint64_t length_before) {
    return !existed ? RemoveFile(path) : TruncateFile(path, length_before);
}

// Writes `size` bytes of `data` at the file's end, as far as the seams let
// them through; false when not all of them were written.
bool WritePiece(LockedAppend& file, const char* path, const char* data, size_t size) {
    FileAccess access{FileOperation::kWrite, path};
    access.data = data;
    access.size = AllowedWriteBytes(path, size);
    if (FileFaultsInstalled()) {
        const int64_t length = file.Length();
        access.offset = length > 0 ? static_cast<uint64_t>(length) : 0;
        if (CheckFileAccess(access) != 0) {
            return false;
        }
    }
    if (!file.Write(data, access.size)) {
        return false;
    }
    ReportFileAccess(access);
    return access.size == size;
}

// Writes every piece of `source`, each through the fault seams.
bool WritePieces(LockedAppend& file, const char* path, AppendSource& source) {
    source.Rewind();
    for (std::string_view piece = source.Next(); !piece.empty(); piece = source.Next()) {
        if (!WritePiece(file, path, piece.data(), piece.size())) {
            return false;
        }
    }
    return true;
}

bool OpenChecked(LockedAppend& file, const char* path, bool creates) {
    FileAccess access{FileOperation::kOpen, path};
    access.creates = creates;
    if (CheckFileAccess(access) != 0 || !file.Open(path)) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

bool SyncChecked(LockedAppend& file, const char* path) {
    FileAccess access{FileOperation::kSync, path};
    if (CheckFileAccess(access) != 0 || !file.Sync()) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

bool TruncateChecked(LockedAppend& file, const char* path, uint64_t length) {
    FileAccess access{FileOperation::kTruncate, path};
    access.offset = length;
    if (CheckFileAccess(access) != 0 || !file.Truncate(length)) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

// Cuts `path` back to `length` and makes that durable, under the deny-write
// lock; a file already no longer than that is only synced.
bool CutBackDurably(const char* path, uint64_t length) {
    if (!PathExists(path)) {
        return true;  // gone, and with it what the failed append left
    }
    SetReadOnly(path, false);
    LockedAppend file;
    bool cut = OpenChecked(file, path, false);
    if (cut) {
        const int64_t found = file.Length();
        cut = found >= 0 &&
              (static_cast<uint64_t>(found) <= length || TruncateChecked(file, path, length)) &&
              SyncChecked(file, path);
    }
    cut = file.Close() && cut;
    SetReadOnly(path, true);
    return cut;
}

bool RemoveDurably(const char* path) {
    if (!RemoveFile(path)) {
        return false;
    }
    SyncDirectory(ParentOf(path).c_str());
    return true;
}

}  // namespace

void UnfinishedAppends::Owe(const std::string& path, bool created, uint64_t length) {
    owed_.emplace(path, Undo{created, length});
}

bool UnfinishedAppends::PutBack(const std::string& path) {
    const auto it = owed_.find(path);
    if (it == owed_.end()) {
        return true;
    }
    const bool put_back = it->second.remove ? RemoveDurably(path.c_str())
                                            : CutBackDurably(path.c_str(), it->second.length);
    if (put_back) {
        owed_.erase(it);
    }
    return put_back;
}

bool UnfinishedAppends::PutBackAll() {
    std::vector<std::string> paths;
    for (const auto& owed : owed_) {
        paths.push_back(owed.first);
    }
    for (const std::string& path : paths) {
        PutBack(path);
    }
    return owed_.empty();
}

int AppendToFile(const char* path, AppendSource& source, const AppendOptions& options) {
    // Never a byte after part of an earlier block that could not be undone.
    if (options.unfinished != nullptr && !options.unfinished->PutBack(path)) {
        return kAppendWriteFailed;
    }
    const bool existed = PathExists(path);
    if (existed) {
        SetReadOnly(path, false);
    } else if (options.before_create && !options.before_create()) {
        return kAppendRefused;
    }
    LockedAppend file;
    if (!OpenChecked(file, path, !existed)) {
        SetReadOnly(path, true);
        return kAppendOpenFailed;
    }
    const int64_t length = file.Length();
    const uint64_t length_before = length > 0 ? static_cast<uint64_t>(length) : 0;
    // What a failed append could not put back is owed to the next append.
    const auto owe_undo = [&] {
        if (options.unfinished != nullptr) {
            options.unfinished->Owe(path, !existed, length_before);
        }
    };
    if (length < 0 || (options.before_write && !options.before_write(length_before))) {
        file.Close();
        // Nothing was written: only a file the open made is left to undo.
        if (!Restore(path, existed, length_before) && !existed) {
            owe_undo();
        }
        SetReadOnly(path, true);
        return length < 0 ? kAppendOpenFailed : kAppendRefused;
    }
    const bool written =
        WritePieces(file, path, source) && (!options.sync || SyncChecked(file, path));
    bool undone_durably = false;
    if (!written && TruncateChecked(file, path, length_before)) {  // while the lock is held
        // The undo reaches the disk too: a power cut must not bring back the
        // bytes of a write that failed (the file would hold half a block).
        undone_durably = SyncChecked(file, path);
    }
    const bool closed = file.Close();
    if (!written || !closed) {
        const bool restored = Restore(path, existed, length_before);
        if (!existed) {
            SyncDirectory(ParentOf(path).c_str());  // nor a file that is gone again
        }
        // A cut that may not be on the disk is owed as well: the next append
        // makes it durable before its own bytes can follow it there.
        if (!restored || (existed && !undone_durably)) {
            owe_undo();
        }
        SetReadOnly(path, true);
        return kAppendWriteFailed;
    }
    if (!existed && options.sync) {
        SyncDirectory(ParentOf(path).c_str());
    }
    SetReadOnly(path, true);
    return kAppendOk;
}

int64_t FileLength(const char* path) {
    std::error_code ec;
    const auto size = fs::file_size(fs::path(path), ec);
    return ec ? -1 : static_cast<int64_t>(size);
}

bool TruncateFile(const char* path, uint64_t length) {
    FileAccess access{FileOperation::kTruncate, path};
    access.offset = length;
    if (CheckFileAccess(access) != 0) {
        return false;
    }
    const bool read_only = IsReadOnly(path);
    if (read_only) {
        SetReadOnly(path, false);
    }
    std::error_code ec;
    fs::resize_file(fs::path(path), length, ec);
    if (read_only) {
        SetReadOnly(path, true);
    }
    if (!ec) {
        ReportFileAccess(access);
    }
    return !ec;
}

namespace {

// The length of the file up to and with its last line end, reading back
// from `length` a slice at a time; 0 when it has none.
uint64_t WholeLinesLength(std::ifstream& file, uint64_t length) {
    constexpr uint64_t kSlice = 4096;
    std::string slice;
    for (uint64_t end = length; end > 0;) {
        const uint64_t begin = end > kSlice ? end - kSlice : 0;
        slice.resize(static_cast<size_t>(end - begin));
        file.seekg(static_cast<std::streamoff>(begin));
        if (!file.read(slice.data(), static_cast<std::streamsize>(slice.size()))) {
            return length;  // unreadable: leave it as it is
        }
        const size_t at = slice.rfind('\n');
        if (at != std::string::npos) {
            return begin + at + 1;
        }
        end = begin;
    }
    return 0;
}

}  // namespace

bool CutTornLastLine(const char* path, uint64_t least) {
    const int64_t length = FileLength(path);
    if (length <= 0) {
        return true;
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    uint64_t whole = WholeLinesLength(file, static_cast<uint64_t>(length));
    file.close();
    if (whole == static_cast<uint64_t>(length)) {
        return true;
    }
    if (whole < least) {
        whole = 0;
    }
    return TruncateFile(path, whole);
}

bool RemoveFile(const char* path) {
    FileAccess access{FileOperation::kRemove, path};
    if (CheckFileAccess(access) != 0) {
        return !PathExists(path);
    }
    SetReadOnly(path, false);
    std::error_code ec;
    const bool removed = fs::remove(fs::path(path), ec);
    if (removed) {
        ReportFileAccess(access);
    }
    return !PathExists(path);
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    std::string path = directory;
    path += kPathSeparator;
    path += name;
    return path;
}

}  // namespace platform
