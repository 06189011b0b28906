// The service manager's end of the notify socket, for tests: a real AF_UNIX
// datagram socket, bound to a path in a temporary directory or to a name in
// the abstract namespace, and named in NOTIFY_SOCKET while the listener lives
// (WATCHDOG_USEC and WATCHDOG_PID are cleared). POSIX only.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace testing_support {

class NotifyListener {
public:
    enum class Kind { kPath, kAbstract };
    explicit NotifyListener(Kind kind = Kind::kPath);
    ~NotifyListener();
    NotifyListener(const NotifyListener&) = delete;
    NotifyListener& operator=(const NotifyListener&) = delete;

    bool ok() const { return fd_ >= 0; }
    // The name as NOTIFY_SOCKET gives it ("/..." or "@...").
    const std::string& name() const { return name_; }

    // The next datagram, waiting up to a generous safety deadline; nothing
    // when none came.
    std::optional<std::string> Next();
    // The next datagram if one is there already, without waiting.
    std::optional<std::string> Pending();
    // Datagrams until one equals `message` (included), or nothing when it
    // does not come before the deadline.
    std::optional<std::vector<std::string>> Until(const std::string& message);

private:
    std::optional<std::string> Receive(int timeout_ms);

    TempDir dir_;
    std::string name_;
    int fd_ = -1;
};

}  // namespace testing_support
