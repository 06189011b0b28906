#include "acquisition/watchdog.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "log/log_codes.h"
#include "log/log_file.h"
#include "platform/ioport.h"

namespace {

enum class Access { kUnknown, kGranted, kRefused };

// Only the acquisition thread kicks the board, but the reset comes with each
// new thread, so the state is guarded anyway.
std::mutex g_mutex;
Access g_access = Access::kUnknown;
std::string g_log_directory;

constexpr uint8_t kCounter2SquareWave = 0xB6;
constexpr uint8_t kCounter1TerminalCount = 0x70;
constexpr int kCounter2Divisor = 20000;

// Asks once per run for the three ports; a refusal is logged once and every
// later write of the run is left out. Acquisition goes on either way.
bool PortsWritable(uint16_t base) {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_access == Access::kUnknown) {
        const std::string refusal =
            platform::RequestIoPortAccess(static_cast<uint16_t>(base + 1), 3);
        g_access = refusal.empty() ? Access::kGranted : Access::kRefused;
        if (!refusal.empty()) {
            WriteLogMessagef(g_log_directory.c_str(), logmsg::k29WatchdogUnreachable, base + 1,
                             base + 3, refusal.c_str());
        }
    }
    return g_access == Access::kGranted;
}

void Out(uint16_t port, int value) {
    platform::WriteIoPort(port, static_cast<uint8_t>(value & 0xFF));
}

// The board's base port when it is configured (above 0) and may be written.
std::optional<uint16_t> WritableBoard(int base) {
    if (base <= 0) {
        return std::nullopt;
    }
    const auto port = static_cast<uint16_t>(base);
    if (!PortsWritable(port)) {
        return std::nullopt;
    }
    return port;
}

}  // namespace

void KickWatchDogTimer(int base, int count) {
    const std::optional<uint16_t> board = WritableBoard(base);
    if (!board) {
        return;
    }
    const uint16_t port = *board;
    Out(static_cast<uint16_t>(port + 3), kCounter2SquareWave);
    Out(static_cast<uint16_t>(port + 2), kCounter2Divisor & 0xFF);
    Out(static_cast<uint16_t>(port + 2), kCounter2Divisor >> 8);
    Out(static_cast<uint16_t>(port + 3), kCounter1TerminalCount);
    Out(static_cast<uint16_t>(port + 1), count & 0xFF);
    Out(static_cast<uint16_t>(port + 1), (count >> 8) & 0xFF);
}

void StopWatchDogTimer(int base) {
    if (const std::optional<uint16_t> board = WritableBoard(base)) {
        Out(static_cast<uint16_t>(*board + 3), kCounter2SquareWave);
    }
}

void ResetWatchDogTimerAccess(const char* log_directory) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_access = Access::kUnknown;
    g_log_directory = log_directory != nullptr ? log_directory : "";
}
