#include "support/serial_peer.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/comm.h"

#ifndef _WIN32
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace testing_support {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSafetyLimit = std::chrono::seconds(10);

#ifdef _WIN32
// The pair `index` of QUORVANE_TEST_COM_PAIRS, or {0, 0}.
std::pair<int, int> ComPair(int index) {
    const char* pairs = std::getenv("QUORVANE_TEST_COM_PAIRS");
    if (pairs == nullptr) {
        return {0, 0};
    }
    const char* p = pairs;
    for (int i = 0; i < index && p != nullptr; ++i) {
        p = std::strchr(p, ',');
        p = p != nullptr ? p + 1 : nullptr;
    }
    int library = 0;
    int peer = 0;
    if (p == nullptr || std::sscanf(p, "%d:%d", &library, &peer) != 2) {
        return {0, 0};
    }
    return {library, peer};
}
#else
int g_nextCom = 60;
#endif

}  // namespace

#ifdef _WIN32

int SerialPeer::LibraryComOfPair(int pair) {
    return ComPair(pair).first;
}

bool SerialPeer::UnderWine() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

SerialPeer::SerialPeer(int pair) {
    const auto [library, peer] = ComPair(pair);
    if (library == 0) {
        error_ = "no COM port pair " + std::to_string(pair) +
                 " in QUORVANE_TEST_COM_PAIRS (run the test through its script)";
        return;
    }
    const std::string name = "\\\\.\\COM" + std::to_string(peer);
    HANDLE handle = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error_ = "cannot open " + name + ", error " + std::to_string(GetLastError());
        return;
    }
    // Reads return at once; a write that finds the line full gives up after
    // 10 ms with what it could hand over.
    COMMTIMEOUTS timeouts{MAXDWORD, 0, 0, 0, 10};
    SetCommTimeouts(handle, &timeouts);
    peer_ = handle;
    com_ = library;
    ok_ = true;
}

SerialPeer::~SerialPeer() {
    if (peer_ != nullptr) {
        CloseHandle(static_cast<HANDLE>(peer_));
    }
}

size_t SerialPeer::WriteSome(const char* data, size_t length) {
    DWORD put = 0;
    WriteFile(static_cast<HANDLE>(peer_), data, static_cast<DWORD>(length), &put, nullptr);
    return put;
}

void SerialPeer::Write(const std::string& bytes) {
    const auto limit = Clock::now() + kSafetyLimit;
    size_t done = 0;
    while (done < bytes.size() && Clock::now() < limit) {
        done += WriteSome(bytes.data() + done, bytes.size() - done);
    }
}

std::string SerialPeer::ReadAvailable() {
    std::string out = std::move(pending_);
    pending_.clear();
    char chunk[4096];
    DWORD got = 0;
    while (ReadFile(static_cast<HANDLE>(peer_), chunk, sizeof chunk, &got, nullptr) && got > 0) {
        out.append(chunk, got);
    }
    return out;
}

std::string SerialPeer::ReadExactly(size_t length) {
    const auto limit = Clock::now() + kSafetyLimit;
    std::string out;
    while (out.size() < length && Clock::now() < limit) {
        const std::string more = ReadAvailable();
        if (more.empty()) {
            Sleep(1);  // nothing to wait on: the pair offers no event
        }
        out += more;
    }
    return out;
}

bool SerialPeer::WaitReadable(int timeoutMs) {
    const auto limit = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        pending_ += ReadAvailable();
        if (!pending_.empty() || Clock::now() >= limit) {
            return !pending_.empty();
        }
        Sleep(1);  // nothing to wait on: the pair offers no event
    }
}

#else

bool SerialPeer::WaitReadable(int timeout_ms) {
    pollfd fd{master_, POLLIN, 0};
    return ::poll(&fd, 1, timeout_ms) > 0 && (fd.revents & POLLIN) != 0;
}

SerialPeer::SerialPeer(int /*pair*/) {
    char name[128] = {};
    if (::openpty(&master_, &terminal_, name, nullptr, nullptr) != 0) {
        error_ = std::string("openpty failed: ") + std::strerror(errno);
        return;
    }
    ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    ::fcntl(terminal_, F_SETFD, FD_CLOEXEC);
    path_ = name;
    com_ = g_nextCom++;
    platform::SetCommDevicePath(com_, path_.c_str());
    ok_ = true;
}

SerialPeer::~SerialPeer() {
    if (com_ != 0) {
        platform::SetCommDevicePath(com_, nullptr);
    }
    if (terminal_ >= 0) {
        ::close(terminal_);
    }
    if (master_ >= 0) {
        ::close(master_);
    }
}

size_t SerialPeer::WriteSome(const char* data, size_t length) {
    const ssize_t put = ::write(master_, data, length);
    return put > 0 ? static_cast<size_t>(put) : 0;
}

void SerialPeer::Write(const std::string& bytes) {
    const auto limit = Clock::now() + kSafetyLimit;
    size_t done = 0;
    while (done < bytes.size() && Clock::now() < limit) {
        done += WriteSome(bytes.data() + done, bytes.size() - done);
        if (done < bytes.size()) {
            pollfd fd{master_, POLLOUT, 0};
            ::poll(&fd, 1, 100);
        }
    }
}

std::string SerialPeer::ReadAvailable() {
    std::string out;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(master_, chunk, sizeof chunk);
        if (got <= 0) {
            return out;
        }
        out.append(chunk, static_cast<size_t>(got));
    }
}

std::string SerialPeer::ReadExactly(size_t length) {
    const auto limit = Clock::now() + kSafetyLimit;
    std::string out = ReadAvailable();
    while (out.size() < length && Clock::now() < limit) {
        pollfd fd{master_, POLLIN, 0};
        ::poll(&fd, 1, 100);
        out += ReadAvailable();
    }
    return out;
}

#endif

}  // namespace testing_support
