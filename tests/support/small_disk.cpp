#include "support/small_disk.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace testing_support {

#ifdef _WIN32

SmallDisk::SmallDisk(std::string mountPoint, size_t) : mount_point_(std::move(mountPoint)) {
    error_ = "no small file systems of its own on Windows";
}
SmallDisk::~SmallDisk() = default;
void SmallDisk::FillLeaving(size_t) {}
void SmallDisk::Free() {}

#else

SmallDisk::SmallDisk(std::string mount_point, size_t bytes)
    : mount_point_(std::move(mount_point)), filler_(mount_point_ + "/filler") {
    std::error_code ec;
    std::filesystem::create_directories(mount_point_, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0777";
    if (::mount("tmpfs", mount_point_.c_str(), "tmpfs", 0, options.c_str()) != 0) {
        error_ = "cannot mount a small tmpfs here (" + std::string(std::strerror(errno)) +
                 "); the disk-full path is covered by the write-fault tests";
        return;
    }
    mounted_ = true;
}

SmallDisk::~SmallDisk() {
    if (mounted_) {
        ::umount2(mount_point_.c_str(), MNT_DETACH);
    }
}

void SmallDisk::FillLeaving(size_t leave) {
    const int fd = ::open(filler_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) {
        return;
    }
    const std::vector<char> zeros(4096, '\0');
    off_t size = 0;
    for (;;) {
        const ssize_t n = ::write(fd, zeros.data(), zeros.size());
        if (n <= 0) {
            break;
        }
        size += n;
    }
    const off_t keep = size > static_cast<off_t>(leave) ? size - static_cast<off_t>(leave) : 0;
    if (::ftruncate(fd, keep) != 0) {
        error_ = "cannot shorten the filler";
    }
    ::close(fd);
}

void SmallDisk::Free() {
    ::unlink(filler_.c_str());
}

#endif

}  // namespace testing_support
