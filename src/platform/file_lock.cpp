#include "platform/file_lock.h"

#include <cerrno>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace platform {

#ifdef _WIN32

namespace {

// The locked byte: far beyond the content, which others may then still read.
constexpr DWORD kLockOffsetHigh = 1;

HANDLE AsHandle(std::intptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

std::string SystemMessage(DWORD code) {
    char text[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                   text, sizeof text, nullptr);
    std::string message = text;
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

HANDLE OpenShared(const std::string& path, DWORD access, DWORD disposition) {
    return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

bool LockByte(HANDLE file, DWORD flags) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    return LockFileEx(file, flags | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != 0;
}

void UnlockByte(HANDLE file) {
    OVERLAPPED at{};
    at.OffsetHigh = kLockOffsetHigh;
    UnlockFileEx(file, 0, 1, 0, &at);
}

}  // namespace

FileLock::~FileLock() {
    Release();
}

LockResult FileLock::Acquire(const std::string& path, const std::string& content,
                             std::string& error) {
    Release();
    HANDLE file = OpenShared(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS);
    if (file == INVALID_HANDLE_VALUE) {
        error = SystemMessage(GetLastError());
        return LockResult::kFailed;
    }
    if (!LockByte(file, LOCKFILE_EXCLUSIVE_LOCK)) {
        const DWORD code = GetLastError();
        CloseHandle(file);
        if (code == ERROR_LOCK_VIOLATION || code == ERROR_IO_PENDING) {
            return LockResult::kHeld;
        }
        error = SystemMessage(code);
        return LockResult::kFailed;
    }
    SetFilePointer(file, 0, nullptr, FILE_BEGIN);
    SetEndOfFile(file);
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    handle_ = reinterpret_cast<std::intptr_t>(file);
    return LockResult::kLocked;
}

void FileLock::Release() {
    if (handle_ != -1) {
        UnlockByte(AsHandle(handle_));
        CloseHandle(AsHandle(handle_));
        handle_ = -1;
    }
}

LockState ProbeFileLock(const std::string& path) {
    HANDLE file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? LockState::kMissing
                                                                            : LockState::kUnknown;
    }
    LockState state = LockState::kFree;
    if (LockByte(file, 0)) {
        UnlockByte(file);
    } else {
        state = GetLastError() == ERROR_LOCK_VIOLATION ? LockState::kHeld : LockState::kUnknown;
    }
    CloseHandle(file);
    return state;
}

int64_t OwnProcessId() {
    return static_cast<int64_t>(GetCurrentProcessId());
}

#else

namespace {

// The whole file, for a lock of the given type.
struct flock WholeFile(short type) {
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 0;
    range.l_len = 0;
    range.l_pid = 0;  // must be 0 for open file description locks
    return range;
}

void WriteContent(int fd, const std::string& content) {
    if (ftruncate(fd, 0) != 0) {
        return;  // best effort: the lock is what counts
    }
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t n =
            pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
        if (n <= 0) {
            if (n < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<size_t>(n);
    }
}

}  // namespace

FileLock::~FileLock() {
    Release();
}

LockResult FileLock::Acquire(const std::string& path, const std::string& content,
                             std::string& error) {
    Release();
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = std::strerror(errno);
        return LockResult::kFailed;
    }
    struct flock range = WholeFile(F_WRLCK);
    if (fcntl(fd, F_OFD_SETLK, &range) != 0) {
        const int code = errno;
        close(fd);
        if (code == EAGAIN || code == EACCES) {
            return LockResult::kHeld;
        }
        error = std::strerror(code);
        return LockResult::kFailed;
    }
    WriteContent(fd, content);
    handle_ = fd;
    return LockResult::kLocked;
}

void FileLock::Release() {
    if (handle_ != -1) {
        close(static_cast<int>(handle_));  // the lock goes with its open
        handle_ = -1;
    }
}

LockState ProbeFileLock(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return errno == ENOENT || errno == ENOTDIR ? LockState::kMissing : LockState::kUnknown;
    }
    // F_OFD_GETLK only looks: a starting logger never finds it taken by us.
    struct flock range = WholeFile(F_WRLCK);
    const int result = fcntl(fd, F_OFD_GETLK, &range);
    close(fd);
    if (result != 0) {
        return LockState::kUnknown;
    }
    return range.l_type == F_UNLCK ? LockState::kFree : LockState::kHeld;
}

int64_t OwnProcessId() {
    return static_cast<int64_t>(getpid());
}

#endif

bool FileLock::IsHeld() const {
    return handle_ != -1;
}

}  // namespace platform
