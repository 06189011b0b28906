#include "platform/files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace platform {
namespace fs = std::filesystem;

bool PathExists(const char* path) {
    std::error_code ec;
    return fs::exists(fs::path(path), ec);
}

void SetReadOnly(const char* path, bool read_only) {
    std::error_code ec;
    const auto write_bits = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
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

std::FILE* OpenAppendDenyWrite(const char* path) { return _fsopen(path, "at+", _SH_DENYWR); }

int CloseLocked(std::FILE* file) { return std::fclose(file); }

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

int CloseLocked(std::FILE* file) { return std::fclose(file); }  // closing the fd drops the lock

DirectoryAccess TestDirectoryWritable(const char* path) {
    std::error_code ec;
    const auto status = fs::status(fs::path(path), ec);
    if (ec && ec != std::errc::no_such_file_or_directory && ec != std::errc::not_a_directory) {
        return ec == std::errc::permission_denied ? DirectoryAccess::kDenied : DirectoryAccess::kOther;
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

std::string JoinPath(const std::string& directory, const std::string& name) {
    std::string path = directory;
    path += kPathSeparator;
    path += name;
    return path;
}

}  // namespace platform
