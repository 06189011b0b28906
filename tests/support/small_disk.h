// A small file system of a test's own (a tmpfs), for running out of space on
// purpose. Mounting needs the privilege to mount (root on Linux); where it is
// refused, ok() is false and error() says why, so the test can skip.
#pragma once

#include <cstddef>
#include <string>

namespace testing_support {

class SmallDisk {
public:
    // Mounts a file system of `bytes` on `mount_point` (created when missing).
    SmallDisk(std::string mount_point, size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool ok() const { return mounted_; }
    const std::string& error() const { return error_; }
    const std::string& path() const { return mount_point_; }

    // Fills the disk with a file of its own until about `leave` bytes are
    // left free; Free() removes that file again.
    void FillLeaving(size_t leave);
    void Free();

private:
    std::string mount_point_;
    std::string filler_;
    bool mounted_ = false;
    std::string error_;
};

}  // namespace testing_support
