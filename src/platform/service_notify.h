// Notifications to a service manager that started the program with a notify
// socket (systemd's Type=notify): "READY=1", "STATUS=...", "STOPPING=1", and
// the keep-alive "WATCHDOG=1" of its software watchdog. The datagrams go to
// the AF_UNIX socket named by NOTIFY_SOCKET (a path, or "@name" for the
// abstract namespace). Without NOTIFY_SOCKET, and on Windows, nothing is sent
// and nothing fails: the program runs the same way under any parent.
#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// Sends one notification (newline-separated assignments). 1 when it was
// sent, 0 when no service manager asked for notifications, a negative errno
// value when it could not be sent (the caller carries on regardless).
int NotifyServiceManager(std::string_view state);

// The interval of the service manager's watchdog in milliseconds (from
// WATCHDOG_USEC, when WATCHDOG_PID is unset or names this process); 0 when
// no watchdog watches this process.
int64_t ServiceWatchdogIntervalMs();

// Called from every pass of the acquisition loop: sends "WATCHDOG=1" when a
// watchdog watches the process and a quarter of its interval has passed
// since the last one (by the clock's tick count), so that a loop that stalls
// is restarted while a running one costs one comparison a pass. The
// environment is read at the first call and after ResetServiceWatchdog.
void KickServiceWatchdog();

// Forgets the last keep-alive and reads the environment again at the next
// kick, for tests that change the environment.
void ResetServiceWatchdog();

}  // namespace platform
