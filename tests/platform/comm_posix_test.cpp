// The POSIX comm layer below the serial library: device names, exclusive
// open, the user-space receive queue, and the DCB it can and cannot apply.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include "platform/comm.h"
#include "platform/posix/comm_termios.h"
#include "support/serial_peer.h"
#include "support/temp_dir.h"

namespace {

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

// The receive thread takes everything the device delivers. What the full
// queue has no room for is lost, as on a UART nobody reads: counted, and
// reported once as CE_RXOVER; the queue keeps the first bytes in order.
TEST(CommQueue, AFullQueueLosesWhatItCannotTakeAndSaysHowMuch) {
    SerialPeer peer;
    ASSERT_TRUE(peer.ok()) << peer.error();
    HANDLE handle = Open(ComName(peer.comNumber()));
    ASSERT_NE(handle, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(SetupComm(handle, 100, 25));
    std::string sent;
    for (int i = 0; i < 300; ++i) {
        sent += static_cast<char>('A' + i % 26);
    }
    peer.Write(sent);  // the line takes it all: nobody throttles the device
    int64_t lost = 0;
    for (int turn = 0; lost < 200 && turn < 1000; ++turn) {
        platform::WaitForCommInput(&handle, nullptr, 1, 10, 101);
        lost += platform::TakeCommLostBytes(handle);
    }
    EXPECT_EQ(lost, 200);
    DWORD errors = 0;
    EXPECT_EQ(Stat(handle, &errors).cbInQue, 100u);
    EXPECT_EQ(errors, CE_RXOVER);
    Stat(handle, &errors);
    EXPECT_EQ(errors, 0u) << "reported once";
    EXPECT_EQ(platform::TakeCommLostBytes(handle), 0) << "counted once";
    char buffer[400];
    DWORD got = 0;
    OVERLAPPED overlapped{};
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, &overlapped));
    EXPECT_EQ(std::string(buffer, got), sent.substr(0, 100));
    DWORD transferred = 0;
    ASSERT_TRUE(GetOverlappedResult(handle, &overlapped, &transferred, TRUE));
    EXPECT_EQ(transferred, got);

    // Resizing keeps what waits, even in a queue smaller than it.
    peer.Write("0123456789");
    EXPECT_EQ(platform::WaitForCommInput(&handle, nullptr, 1, 10000, 10), 1);
    ASSERT_TRUE(SetupComm(handle, 4, 4));
    ASSERT_TRUE(ReadFile(handle, buffer, sizeof buffer, &got, nullptr));
    EXPECT_EQ(std::string(buffer, got), "0123456789");
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
