// Single-byte writes to processor I/O ports, for the watchdog timer board.
// Where the platform allows them (x86 Linux with the right privileges, or
// Windows with a port-I/O driver DLL installed) they reach the hardware;
// elsewhere RequestIoPortAccess says so and the caller carries on without
// them. Tests install a RecordingIoPorts sink in place of the hardware.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace platform {

class IoPorts {
public:
    virtual ~IoPorts() = default;
    // Asks for write access to `count` ports from `first` on. Returns an empty
    // text when granted, otherwise why not (for the log).
    virtual std::string RequestAccess(uint16_t first, int count) = 0;
    // Writes one byte to one port (only after access was granted).
    virtual void Write(uint16_t port, uint8_t value) = 0;
};

// The sink in force: the hardware unless a test installed another one.
IoPorts& CurrentIoPorts();
// Installs `ports` for the whole process; nullptr restores the hardware.
// The caller keeps ownership and must keep the sink alive while installed.
void SetIoPorts(IoPorts* ports);

// Shorthands for CurrentIoPorts().RequestAccess / Write.
inline std::string RequestIoPortAccess(uint16_t first, int count) {
    return CurrentIoPorts().RequestAccess(first, count);
}
inline void WriteIoPort(uint16_t port, uint8_t value) {
    CurrentIoPorts().Write(port, value);
}

// A sink that keeps every write, in order, and can refuse access.
class RecordingIoPorts final : public IoPorts {
public:
    struct Written {
        uint16_t port;
        uint8_t value;
        friend bool operator==(const Written&, const Written&) = default;
    };

    explicit RecordingIoPorts(bool grant = true) : grant_(grant) {}

    std::string RequestAccess(uint16_t first, int count) override;
    void Write(uint16_t port, uint8_t value) override;

    std::vector<Written> Writes() const;
    int AccessRequests() const;

private:
    bool grant_;
    mutable std::mutex mutex_;
    std::vector<Written> writes_;
    int requests_ = 0;
};

// Installs a sink for the lifetime of the scope.
class IoPortsScope {
public:
    explicit IoPortsScope(IoPorts& ports) { SetIoPorts(&ports); }
    ~IoPortsScope() { SetIoPorts(nullptr); }
    IoPortsScope(const IoPortsScope&) = delete;
    IoPortsScope& operator=(const IoPortsScope&) = delete;
};

}  // namespace platform
