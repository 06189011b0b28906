// The far end of a real serial line for tests: what an instrument would see.
// On Linux a pseudo-terminal pair: the library opens the terminal side as
// COM<comNumber()> (registered with SetCommDevicePath), the test speaks on the
// master side. Under Windows (wine) a linked pair of COM ports named by the
// environment variable QUORVANE_TEST_COM_PAIRS ("41:42,43:44": the library
// opens the first of a pair, the test the second), set up by the test script.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdlib>
#include <string>

namespace testing_support {

class SerialPeer {
public:
    // `pair` chooses the pair on Windows; on Linux every peer is a new pty.
    explicit SerialPeer(int pair = 0);
    ~SerialPeer();
    SerialPeer(const SerialPeer&) = delete;
    SerialPeer& operator=(const SerialPeer&) = delete;

    // False when no line could be made; error() says why.
    bool ok() const { return ok_; }
    const std::string& error() const { return error_; }

    // The COM number the library opens, and its 0-based port index.
    int comNumber() const { return com_; }
    int portIndex() const { return com_ - 1; }

    // Sends all bytes, waiting while the line is full (safety limit 10 s).
    void Write(const std::string& bytes);
    // Sends what the line accepts now; returns how many.
    size_t WriteSome(const char* data, size_t length);
    // What has arrived from the library's side, without waiting.
    std::string ReadAvailable();
    // Waits until `length` bytes arrived or 10 s passed; returns what arrived.
    std::string ReadExactly(size_t length);
    // Waits up to `timeout_ms` for something to arrive; true when it did.
    bool WaitReadable(int timeout_ms);

#ifdef _WIN32
    // The COM number the library opens in pair `pair`, without opening its
    // peer (0 when the pairs are not set up).
    static int LibraryComOfPair(int pair);
    // True under wine, whose COM ports differ from Windows' in places.
    static bool UnderWine();
#else
    // The test's own descriptor on the library's side, to look at its termios.
    int terminalFd() const {
        return terminal_;
    }
    const std::string& devicePath() const {
        return path_;
    }
    // The instrument's side, for writers of its own (non-blocking).
    int masterFd() const {
        return master_;
    }
#endif

private:
    bool ok_ = false;
    std::string error_;
    int com_ = 0;
#ifdef _WIN32
    void* peer_ = nullptr;
    std::string pending_;  // read while waiting, not yet handed out
#else
    int master_ = -1;
    int terminal_ = -1;
    std::string path_;
#endif
};

// True where a test may run without a line: on Windows outside the script
// that sets up the COM pairs.
inline bool PeerMayBeMissing() {
#ifdef _WIN32
    return std::getenv("QUORVANE_TEST_COM_PAIRS") == nullptr;
#else
    return false;
#endif
}

}  // namespace testing_support

// Skips a test where the platform may have no line for it, fails it where it
// should have one.
#define REQUIRE_PEER(peer)                             \
    do {                                               \
        if (!(peer).ok()) {                            \
            if (testing_support::PeerMayBeMissing()) { \
                GTEST_SKIP() << (peer).error();        \
            }                                          \
            FAIL() << (peer).error();                  \
        }                                              \
    } while (0)
