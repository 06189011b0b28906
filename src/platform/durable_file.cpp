#include "platform/durable_file.h"

#include "platform/file_faults.h"
#include "platform/files.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace platform {

DurableFile::~DurableFile() {
    Close();
}

SharedReadFile::~SharedReadFile() {
    Close();
}

#ifdef _WIN32

namespace {
OVERLAPPED At(uint64_t offset) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return where;
}

int64_t ReadAtHandle(void* handle, uint64_t offset, void* data, size_t size) {
    OVERLAPPED where = At(offset);
    DWORD got = 0;
    const DWORD chunk = static_cast<DWORD>(size > (1u << 30) ? (1u << 30) : size);
    if (!ReadFile(static_cast<HANDLE>(handle), data, chunk, &got, &where)) {
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    }
    return got;
}
}  // namespace

bool DurableFile::OpenRaw(const std::string& path) {
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = handle;
    path_ = path;
    return true;
}

bool DurableFile::IsOpen() const {
    return handle_ != nullptr;
}

int64_t DurableFile::Size() {
    LARGE_INTEGER size{};
    return GetFileSizeEx(static_cast<HANDLE>(handle_), &size) ? size.QuadPart : -1;
}

bool DurableFile::WriteRaw(uint64_t offset, const char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        OVERLAPPED where = At(offset + done);
        const DWORD chunk = static_cast<DWORD>(size - done > (1u << 30) ? (1u << 30) : size - done);
        DWORD written = 0;
        if (!WriteFile(static_cast<HANDLE>(handle_), bytes + done, chunk, &written, &where) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

int64_t DurableFile::ReadAt(uint64_t offset, void* data, size_t size) {
    return ReadAtHandle(handle_, offset, data, size);
}

bool DurableFile::TruncateRaw(uint64_t size) {
    LARGE_INTEGER where{};
    where.QuadPart = static_cast<LONGLONG>(size);
    return SetFilePointerEx(static_cast<HANDLE>(handle_), where, nullptr, FILE_BEGIN) &&
           SetEndOfFile(static_cast<HANDLE>(handle_));
}

bool DurableFile::SyncRaw() {
    return FlushFileBuffers(static_cast<HANDLE>(handle_)) != 0;
}

void DurableFile::Close() {
    if (handle_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

bool SharedReadFile::Open(const std::string& path) {
    Close();
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return false;
    }
    handle_ = handle;
    return true;
}

bool SharedReadFile::IsOpen() const {
    return handle_ != nullptr;
}

int64_t SharedReadFile::ReadAt(uint64_t offset, void* data, size_t size) {
    return ReadAtHandle(handle_, offset, data, size);
}

void SharedReadFile::Close() {
    if (handle_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(handle_));
        handle_ = nullptr;
    }
}

#else

bool DurableFile::OpenRaw(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    path_ = path;
    return true;
}

bool DurableFile::IsOpen() const {
    return fd_ >= 0;
}

int64_t DurableFile::Size() {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool DurableFile::WriteRaw(uint64_t offset, const char* bytes, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t written =
            ::pwrite(fd_, bytes + done, size - done, static_cast<off_t>(offset + done));
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

namespace {
int64_t ReadAtFd(int fd, uint64_t offset, void* data, size_t size) {
    for (;;) {
        const ssize_t got = ::pread(fd, data, size, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got;
    }
}
}  // namespace

int64_t DurableFile::ReadAt(uint64_t offset, void* data, size_t size) {
    return ReadAtFd(fd_, offset, data, size);
}

bool DurableFile::TruncateRaw(uint64_t size) {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool DurableFile::SyncRaw() {
    return ::fdatasync(fd_) == 0;
}

void DurableFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}


bool SharedReadFile::Open(const std::string& path) {
    Close();
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

bool SharedReadFile::IsOpen() const {
    return fd_ >= 0;
}

int64_t SharedReadFile::ReadAt(uint64_t offset, void* data, size_t size) {
    return ReadAtFd(fd_, offset, data, size);
}

void SharedReadFile::Close() {
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

#endif

bool DurableFile::Open(const std::string& path) {
    Close();
    FileAccess access{FileOperation::kOpen, path.c_str()};
    access.creates = !PathExists(path.c_str());
    if (CheckFileAccess(access) != 0 || !OpenRaw(path)) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

bool DurableFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    FileAccess access{FileOperation::kWrite, path_.c_str()};
    access.offset = offset;
    access.data = static_cast<const char*>(data);
    access.size = AllowedWriteBytes(path_.c_str(), size);
    if (CheckFileAccess(access) != 0 || !WriteRaw(offset, access.data, access.size)) {
        return false;
    }
    ReportFileAccess(access);
    return access.size == size;
}

bool DurableFile::Truncate(uint64_t size) {
    FileAccess access{FileOperation::kTruncate, path_.c_str()};
    access.offset = size;
    if (CheckFileAccess(access) != 0 || !TruncateRaw(size)) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

bool DurableFile::Sync() {
    FileAccess access{FileOperation::kSync, path_.c_str()};
    if (CheckFileAccess(access) != 0 || !SyncRaw()) {
        return false;
    }
    ReportFileAccess(access);
    return true;
}

}  // namespace platform
