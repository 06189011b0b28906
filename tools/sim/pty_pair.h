// A pseudo-terminal pair in raw mode: the program under test opens the
// terminal side by its path, like a serial device; the instrument side reads
// and writes the other end.
#pragma once

#include <csignal>
#include <cstddef>
#include <string>
#include <string_view>

namespace sim {

class PtyPair {
public:
    // Opens a new pair. ok() tells whether that worked.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0; }
    // The terminal side's device path (for example /dev/pts/7).
    const std::string& path() const { return path_; }
    int master_fd() const { return master_; }
    // The pair's own descriptor of the terminal side (it never reads it).
    int terminal_fd() const { return slave_; }

    // Writes every byte (waiting while the terminal's queue is full).
    bool Write(std::string_view bytes);
    // Reads what has arrived from the terminal side, waiting up to
    // `timeout_ms` for the first byte (-1: without limit). Empty on time-out.
    std::string Read(int timeout_ms);

private:
    int master_ = -1;
    int slave_ = -1;  // kept open, so the instrument side never sees a hang-up
    std::string path_;
};

// Writes to a device that exists already (a serial port, another pty).
class DeviceWriter {
public:
    explicit DeviceWriter(const std::string& path);
    ~DeviceWriter();
    DeviceWriter(const DeviceWriter&) = delete;
    DeviceWriter& operator=(const DeviceWriter&) = delete;
    bool ok() const { return fd_ >= 0; }
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Writes every byte to `fd`, waiting while it is full. False on an error, and
// when `stop` (if given) becomes non-zero before everything is written: a
// queue that nobody reads stays full, and a signal must still end the writer.
bool WriteAll(int fd, std::string_view bytes, const volatile std::sig_atomic_t* stop = nullptr);
// Reads what is there, waiting up to `timeout_ms` for the first byte.
std::string ReadSome(int fd, int timeout_ms);

}  // namespace sim
