// The POSIX comm layer below the serial library: device names, exclusive
// open, the user-space receive queue, and the DCB it can and cannot apply.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/comm.h"
#include "platform/posix/comm_device.h"
#include "platform/posix/comm_termios.h"
#include "pty_pair.h"
#include "support/serial_peer.h"
#include "support/temp_dir.h"
#include "support/waiting_device.h"

namespace {

using testing_support::AwaitAWaitingDevice;
using testing_support::SerialPeer;

HANDLE Open(const std::string& name) {
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_FLAG_OVERLAPPED, nullptr);
}

std::string ComName(int n) {
    return "\\\\.\\COM" + std::to_string(n);
}

TEST(CommDevices, ComNamesResolveToTheRegisteredDevice) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    for (const std::string& name :
         {ComName(peer.comNumber()), "\\\\.\\com" + std::to_string(peer.comNumber()),
          "COM" + std::to_string(peer.comNumber()), peer.devicePath()}) {
        HANDLE handle = Open(name);
        ASSERT_NE(handle, INVALID_HANDLE_VALUE) << name;
        DWORD put = 0;
        ASSERT_TRUE(WriteFile(handle, "n", 1, &put, nullptr));
        EXPECT_EQ(peer.ReadExactly(1), "n") << name;
        EXPECT_TRUE(CloseHandle(handle));
    }
    platform::SetCommDevicePath(peer.comNumber(), "");
    HANDLE handle = Open(ComName(peer.comNumber()));  // now /dev/ttyS<n-1>, which is not there
    EXPECT_EQ(handle, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
}

TEST(CommDevices, WhatIsNotATerminalIsNotFound) {
    testing_support::TempDir dir;
    testing_support::WriteFile(dir.File("plain"), "x");
    const struct {
        std::string path;
        DWORD error;
    } cases[] = {{dir.File("missing"), ERROR_FILE_NOT_FOUND},
                 {dir.File("plain"), ERROR_FILE_NOT_FOUND},
                 {dir.File("plain") + "/below", ERROR_PATH_NOT_FOUND}};
    for (const auto& c : cases) {
        platform::SetCommDevicePath(250, c.path.c_str());
        EXPECT_EQ(Open(ComName(250)), INVALID_HANDLE_VALUE) << c.path;
        EXPECT_EQ(GetLastError(), c.error) << c.path;
    }
    platform::SetCommDevicePath(250, nullptr);
}

TEST(CommDevices, ADeviceHasOneOpenerAtATime) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE first = Open(ComName(peer.comNumber()));
    ASSERT_NE(first, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(peer.devicePath()), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Another program is kept out: by TIOCEXCL, or (root passes that) by the lock.
    const int fd = ::open(peer.devicePath().c_str(), O_RDWR | O_NOCTTY);
    if (fd >= 0) {
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    EXPECT_TRUE(CloseHandle(first));
    HANDLE second = Open(ComName(peer.comNumber()));
    EXPECT_NE(second, INVALID_HANDLE_VALUE);
    EXPECT_TRUE(CloseHandle(second));
    EXPECT_FALSE(CloseHandle(second));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

COMSTAT Stat(HANDLE handle, DWORD* errors = nullptr) {
    DWORD found = 0;
    COMSTAT stat{};
    EXPECT_TRUE(ClearCommError(handle, &found, &stat));
    if (errors != nullptr) {
        *errors = found;
    }
    return stat;
}

// Numbers, comma-separated: a byte lost, doubled or moved shows.
std::string Counting(size_t bytes) {
    std::string text;
    for (int n = 0; text.size() < bytes; ++n) {
        text += std::to_string(n) + ',';
    }
    text.resize(bytes);
    return text;
}

// An instrument that writes as long as the line takes its bytes, and gives
// up when told to (a test that failed no longer reads).
class BlockingWriter {
public:
    BlockingWriter(int fd, const std::string& bytes)
        : thread_([this, fd, &bytes] { done_ = sim::WriteAll(fd, bytes, &stop_); }) {}
    ~BlockingWriter() {
        if (thread_.joinable()) {
            stop_ = 1;
            thread_.join();
        }
    }
    BlockingWriter(const BlockingWriter&) = delete;
    BlockingWriter& operator=(const BlockingWriter&) = delete;
    // Waits until everything is written; true when it was.
    bool Finish() {
        thread_.join();
        return done_;
    }

private:
    volatile std::sig_atomic_t stop_ = 0;
    bool done_ = false;
    std::thread thread_;
};

// A full queue stops the reading of the device, and a device that can wait
// (a pty's writer blocks) waits instead of losing what it sends: four
// megabytes through a 64 KiB queue whose reader begins only once the device
// waits arrive whole and in order, nothing is reported lost, and how long
// the device waited is told, once.
TEST(CommQueue, AFullQueueMakesTheDeviceWaitAndLosesNothing) {
    sim::PtyPair pty;
    ASSERT_TRUE(pty.ok());
    HANDLE handle = Open(pty.path());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(handle, 65536, 25));
    const std::string sent = Counting(4 << 20);
    BlockingWriter writer(pty.master_fd(), sent);
    ASSERT_TRUE(AwaitAWaitingDevice());
    EXPECT_EQ(Stat(handle).cbInQue, 65536u);

    std::string received;
    std::vector<char> buffer(100000);
    while (received.size() < sent.size() &&
           platform::WaitForCommInput(&handle, nullptr, 1, 30000) == 1) {
        DWORD got = 0;
        OVERLAPPED overlapped{};
        ASSERT_TRUE(ReadFile(handle, buffer.data(), 100000, &got, &overlapped));
        DWORD transferred = 0;
        ASSERT_TRUE(GetOverlappedResult(handle, &overlapped, &transferred, TRUE));
        EXPECT_EQ(transferred, got);
        received.append(buffer.data(), got);
    }
    EXPECT_TRUE(writer.Finish());
    ASSERT_EQ(received.size(), sent.size());
    EXPECT_TRUE(received == sent);
    DWORD errors = 0;
    Stat(handle, &errors);
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(platform::TakeCommLostBytes(handle), 0);
    EXPECT_GT(platform::TakeCommPausedMs(handle), 0);
    EXPECT_EQ(platform::TakeCommPausedMs(handle), 0) << "told once";
    EXPECT_EQ(platform::posix::PausedDevices(), 0);

    // Resizing keeps what waits, even in a queue smaller than it.
    ASSERT_TRUE(pty.Write("0123456789"));
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 10000, 10), 1);
    ASSERT_TRUE(SetupComm(handle, 4, 4));
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(handle, buffer.data(), 100, &got, nullptr));
    EXPECT_EQ(std::string(buffer.data(), got), "0123456789");
    EXPECT_TRUE(CloseHandle(handle));
}

// A device that hangs up while it waits is not read again until its queue
// has room; then what the queue held has been read, and the device is gone.
TEST(CommQueue, ADeviceThatHangsUpWhileItWaitsIsGoneOnceItsQueueIsRead) {
    auto pty = std::make_unique<sim::PtyPair>();
    ASSERT_TRUE(pty->ok());
    HANDLE handle = Open(pty->path());
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(handle, 4096, 25));
    const std::string sent = Counting(6000);  // the pty holds the rest
    ASSERT_TRUE(pty->Write(sent));
    ASSERT_TRUE(AwaitAWaitingDevice());
    pty.reset();  // the instrument's side closes: a hang-up

    std::vector<char> buffer(8192);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(handle, buffer.data(), 8192, &got, nullptr));
    EXPECT_EQ(std::string(buffer.data(), got), sent.substr(0, 4096));
    std::string more;
    std::string reason;
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!platform::CommDeviceLost(handle, nullptr, &reason) &&
           std::chrono::steady_clock::now() < limit) {
        platform::WaitForCommInput(&handle, nullptr, 1, 100);
        ASSERT_TRUE(ReadFile(handle, buffer.data(), 8192, &got, nullptr));
        more.append(buffer.data(), got);
    }
    EXPECT_FALSE(reason.empty()) << "the device is gone";
    // Whether the kernel kept what it held at the hang-up is its own affair;
    // what the device still gave comes next, in order.
    EXPECT_TRUE(sent.compare(4096, more.size(), more) == 0);
    EXPECT_EQ(platform::posix::PausedDevices(), 0);
    EXPECT_TRUE(CloseHandle(handle));
}

// The queue fills while its reader does something else, and a wait for a
// level ends when the level is reached, not before.
TEST(CommQueue, TheQueueFillsWithoutItsReaderAndAWaitEndsAtItsLevel) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    peer.Write(std::string(300, 'a'));
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 10000, 300), 1);
    EXPECT_EQ(Stat(handle).cbInQue, 300u);
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 20, 512), 0) << "below the level";
    peer.Write(std::string(212, 'b'));
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 10000, 512), 1);
    EXPECT_EQ(Stat(handle).cbInQue, 512u);
    EXPECT_TRUE(CloseHandle(handle));
}

// WakeCommWaiters ends every wait given a mark taken before it, whether it
// comes before the wait begins or while it waits. (The minute is a bound
// that only a lost wake-up reaches.)
TEST(CommQueue, AWakeUpEndsAWaitThatBeganAfterItsMark) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    using Clock = std::chrono::steady_clock;
    for (const bool fromAnotherThread : {false, true}) {
        const uint64_t mark = platform::CommWakeMark();
        std::thread waker;
        if (fromAnotherThread) {
            waker = std::thread([] { platform::WakeCommWaiters(); });
        } else {
            platform::WakeCommWaiters();
        }
        const auto start = Clock::now();
        EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 60000, 1, mark), 0);
        EXPECT_LT(Clock::now() - start, std::chrono::seconds(30)) << fromAnotherThread;
        if (waker.joinable()) {
            waker.join();
        }
    }
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(CommQueue, PurgeEmptiesTheReceiveSideOnly) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(handle, 8, 8));
    peer.Write("0123456789abcdef");
    while (Stat(handle).cbInQue < 8) {
        platform::WaitForCommInput(&handle, nullptr, 1, 100);
    }
    EXPECT_TRUE(PurgeComm(handle, PURGE_RXCLEAR | PURGE_RXABORT));
    EXPECT_EQ(Stat(handle).cbInQue, 0u);
    EXPECT_TRUE(PurgeComm(handle, PURGE_TXCLEAR));
    peer.Write("z");
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 10000), 1);
    char byte = 0;
    DWORD got = 0;
    EXPECT_TRUE(ReadFile(handle, &byte, 1, &got, nullptr));
    EXPECT_EQ(byte, 'z');
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(CommQueue, AWriteTheLineCannotTakeRaisesTxFullOnce) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    const std::string block(4096, 'w');
    DWORD put = 0;
    int writes = 0;
    do {
        ASSERT_TRUE(WriteFile(handle, block.data(), 4096, &put, nullptr));
    } while (put == 4096 && ++writes < 1000);
    DWORD errors = 0;
    Stat(handle, &errors);
    EXPECT_EQ(errors, CE_TXFULL);
    Stat(handle, &errors);
    EXPECT_EQ(errors, 0u) << "ClearCommError clears what it reported";
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(CommSettings, OnlyReadsThatReturnAtOnceAreOffered) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    COMMTIMEOUTS immediate{MAXDWORD, 0, 0, 0, 0};
    EXPECT_TRUE(SetCommTimeouts(handle, &immediate));
    COMMTIMEOUTS waiting{0, 0, 100, 0, 0};
    EXPECT_FALSE(SetCommTimeouts(handle, &waiting));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(CloseHandle(handle));
}

TEST(CommSettings, TheStateAppliedIsTheStateReported) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    DCB dcb{};
    ASSERT_TRUE(GetCommState(handle, &dcb));
    EXPECT_EQ(dcb.fOutX, 0u) << "a port starts without flow control";
    EXPECT_EQ(dcb.fInX, 0u);
    dcb.BaudRate = 261888;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutX = 1;
    ASSERT_TRUE(SetCommState(handle, &dcb));
    DCB reported{};
    ASSERT_TRUE(GetCommState(handle, &reported));
    EXPECT_EQ(reported.BaudRate, 261888u);
    EXPECT_EQ(reported.fOutX, 1u);
    EXPECT_EQ(platform::posix::GetLineSpeed(peer.terminalFd()), 256000u);
    dcb.ByteSize = 9;
    EXPECT_FALSE(SetCommState(handle, &dcb));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(GetCommState(handle, &reported));
    EXPECT_EQ(reported.ByteSize, 8) << "a refused block changes nothing";
    EXPECT_TRUE(CloseHandle(handle));
}

// The translation itself, on every value a DCB field can take.
DCB Plain() {
    DCB dcb{};
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.fBinary = 1;
    dcb.fTXContinueOnXoff = 1;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    return dcb;
}

TEST(DcbToTermios, ParityByteSizeAndStopBits) {
    const struct {
        BYTE parity;
        tcflag_t flags;
    } parities[] = {{NOPARITY, 0},
                    {ODDPARITY, PARENB | PARODD},
                    {EVENPARITY, PARENB},
                    {MARKPARITY, PARENB | PARODD | CMSPAR},
                    {SPACEPARITY, PARENB | CMSPAR}};
    for (const auto& p : parities) {
        DCB dcb = Plain();
        dcb.Parity = p.parity;
        termios t{};
        t.c_cflag = PARENB | PARODD | CMSPAR;
        ASSERT_EQ(platform::posix::DcbToTermios(dcb, t), ERROR_SUCCESS);
        EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR), p.flags) << int{p.parity};
        EXPECT_EQ(t.c_iflag & INPCK, 0u) << "checking stays off unless fParity";
        dcb.fParity = 1;
        ASSERT_EQ(platform::posix::DcbToTermios(dcb, t), ERROR_SUCCESS);
        EXPECT_EQ((t.c_iflag & INPCK) != 0, p.parity != NOPARITY);
        const DCB back = platform::posix::TermiosToDcb(t, 9600);
        EXPECT_EQ(back.Parity, p.parity);
    }
    const struct {
        BYTE size;
        tcflag_t flag;
    } sizes[] = {{5, CS5}, {6, CS6}, {7, CS7}, {8, CS8}};
    for (const auto& s : sizes) {
        DCB dcb = Plain();
        dcb.ByteSize = s.size;
        termios t{};
        ASSERT_EQ(platform::posix::DcbToTermios(dcb, t), ERROR_SUCCESS);
        EXPECT_EQ(t.c_cflag & CSIZE, s.flag);
        EXPECT_EQ(platform::posix::TermiosToDcb(t, 9600).ByteSize, s.size);
    }
    const struct {
        BYTE size;
        BYTE stop;
        DWORD error;
        bool cstopb;
    } stops[] = {{8, ONESTOPBIT, ERROR_SUCCESS, false},
                 {8, TWOSTOPBITS, ERROR_SUCCESS, true},
                 {5, ONE5STOPBITS, ERROR_SUCCESS, true},
                 {8, ONE5STOPBITS, ERROR_INVALID_PARAMETER, false},
                 {5, TWOSTOPBITS, ERROR_INVALID_PARAMETER, false},
                 {8, 3, ERROR_INVALID_PARAMETER, false}};
    for (const auto& s : stops) {
        DCB dcb = Plain();
        dcb.ByteSize = s.size;
        dcb.StopBits = s.stop;
        termios t{};
        ASSERT_EQ(platform::posix::DcbToTermios(dcb, t), s.error);
        if (s.error == ERROR_SUCCESS) {
            EXPECT_EQ((t.c_cflag & CSTOPB) != 0, s.cstopb);
            EXPECT_EQ(platform::posix::TermiosToDcb(t, 9600).StopBits, s.stop);
        }
    }
}

TEST(DcbToTermios, BlocksItCannotApplyAreRefusedWithoutChange) {
    const struct {
        const char* what;
        void (*edit)(DCB&);
        DWORD error;
    } cases[] = {
        {"byte size 4", [](DCB& d) { d.ByteSize = 4; }, ERROR_INVALID_PARAMETER},
        {"byte size 9", [](DCB& d) { d.ByteSize = 9; }, ERROR_INVALID_PARAMETER},
        {"parity 5", [](DCB& d) { d.Parity = 5; }, ERROR_INVALID_PARAMETER},
        {"baud 0", [](DCB& d) { d.BaudRate = 0; }, ERROR_INVALID_PARAMETER},
        {"negative baud", [](DCB& d) { d.BaudRate = static_cast<DWORD>(-9600); },
         ERROR_INVALID_PARAMETER},
        {"XON is XOFF", [](DCB& d) { d.fOutX = 1, d.XoffChar = d.XonChar; },
         ERROR_INVALID_PARAMETER},
        {"RTS toggle", [](DCB& d) { d.fRtsControl = RTS_CONTROL_TOGGLE; }, ERROR_NOT_SUPPORTED},
        {"NUL discarding", [](DCB& d) { d.fNull = 1; }, ERROR_NOT_SUPPORTED},
        {"error character", [](DCB& d) { d.fErrorChar = 1; }, ERROR_NOT_SUPPORTED},
        {"DSR sensitivity", [](DCB& d) { d.fDsrSensitivity = 1; }, ERROR_NOT_SUPPORTED},
        {"abort on error", [](DCB& d) { d.fAbortOnError = 1; }, ERROR_NOT_SUPPORTED},
        {"XOFF stops output", [](DCB& d) { d.fInX = 1, d.fTXContinueOnXoff = 0; },
         ERROR_NOT_SUPPORTED},
    };
    for (const auto& c : cases) {
        DCB dcb = Plain();
        c.edit(dcb);
        termios t{};
        t.c_lflag = ECHO | ICANON;
        EXPECT_EQ(platform::posix::DcbToTermios(dcb, t), c.error) << c.what;
        EXPECT_EQ(t.c_lflag, static_cast<tcflag_t>(ECHO | ICANON)) << c.what;
    }
}

TEST(DcbToTermios, TheLibrarysEncodedRatesAreTheirSpeeds) {
    EXPECT_EQ(platform::posix::LineSpeedOf(130816), 128000u);
    EXPECT_EQ(platform::posix::LineSpeedOf(261888), 256000u);
    EXPECT_EQ(platform::posix::LineSpeedOf(115200), 115200u);
    EXPECT_EQ(platform::posix::LineSpeedOf(1200), 1200u);
}

}  // namespace
