#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace sim {

PtyPair::PtyPair() {
    char name[256] = {};
    termios raw{};
    cfmakeraw(&raw);
    if (::openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
        master_ = -1;
        slave_ = -1;
        return;
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave_, F_SETFD, FD_CLOEXEC);
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    path_ = name;
}

PtyPair::~PtyPair() {
    if (slave_ >= 0) {
        ::close(slave_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

bool PtyPair::Write(std::string_view bytes) {
    return WriteAll(master_, bytes);
}

std::string PtyPair::Read(int timeout_ms) {
    return ReadSome(master_, timeout_ms);
}

DeviceWriter::DeviceWriter(const std::string& path) {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ >= 0) {
        termios raw{};
        if (::tcgetattr(fd_, &raw) == 0) {
            cfmakeraw(&raw);
            ::tcsetattr(fd_, TCSANOW, &raw);
        }
    }
}

DeviceWriter::~DeviceWriter() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool WriteAll(int fd, std::string_view bytes, const volatile std::sig_atomic_t* stop) {
    while (!bytes.empty()) {
        if (stop != nullptr && *stop != 0) {
            return false;
        }
        const ssize_t put = ::write(fd, bytes.data(), bytes.size());
        if (put > 0) {
            bytes.remove_prefix(static_cast<size_t>(put));
            continue;
        }
        if (put < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        }
        pollfd p{fd, POLLOUT, 0};
        ::poll(&p, 1, 100);
    }
    return true;
}

std::string ReadSome(int fd, int timeout_ms) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) <= 0 || (p.revents & POLLIN) == 0) {
        return {};
    }
    char chunk[4096];
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    return got > 0 ? std::string(chunk, static_cast<size_t>(got)) : std::string();
}

}  // namespace sim
