// A file written at chosen offsets and made durable on request: the storage of
// the journal of received text. One opener at a time may write it (deny-write
// for every other opener; POSIX: an exclusive advisory lock). Others may read
// it beside the writer (SharedReadFile).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

// What reads a file at chosen offsets.
class ReadableAt {
public:
    virtual ~ReadableAt() = default;
    // Reads up to `size` bytes at `offset`; the number read (0 at the end),
    // -1 on an error.
    virtual int64_t ReadAt(uint64_t offset, void* data, size_t size) = 0;
};

class DurableFile final : public ReadableAt {
public:
    DurableFile() = default;
    ~DurableFile();
    DurableFile(const DurableFile&) = delete;
    DurableFile& operator=(const DurableFile&) = delete;

    // Opens `path` for reading and writing, creating it when missing. False
    // when it cannot be opened or another opener holds it.
    bool Open(const std::string& path);
    bool IsOpen() const;
    // Its size in bytes; -1 on an error.
    int64_t Size();
    // Writes all `size` bytes at `offset` (through the test seams of
    // SetWriteFault and SetFileFaults); false when that could not be done.
    bool WriteAt(uint64_t offset, const void* data, size_t size);
    int64_t ReadAt(uint64_t offset, void* data, size_t size) override;
    bool Truncate(uint64_t size);
    // Everything written so far reaches the disk (fdatasync; FlushFileBuffers).
    bool Sync();
    void Close();

    const std::string& path() const { return path_; }

private:
    // The system's own calls, below the seams of files.h and file_faults.h.
    bool OpenRaw(const std::string& path);
    bool WriteRaw(uint64_t offset, const char* data, size_t size);
    bool TruncateRaw(uint64_t size);
    bool SyncRaw();

    std::string path_;
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

// A file opened for reading only, beside a writer that may grow, cut or
// remove it meanwhile (Windows: shared for reading, writing and deletion), so
// that the reader never stands in the writer's way.
class SharedReadFile final : public ReadableAt {
public:
    SharedReadFile() = default;
    ~SharedReadFile() override;
    SharedReadFile(const SharedReadFile&) = delete;
    SharedReadFile& operator=(const SharedReadFile&) = delete;

    // False when it does not exist or cannot be read.
    bool Open(const std::string& path);
    bool IsOpen() const;
    int64_t ReadAt(uint64_t offset, void* data, size_t size) override;
    void Close();

private:
#ifdef _WIN32
    void* handle_ = nullptr;
#else
    int fd_ = -1;
#endif
};

}  // namespace platform
