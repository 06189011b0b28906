// Watches a started program through a handle of its own, so that a test can
// still see it end after the code under test has collected the program and
// given up its handle.
#pragma once

#include "platform/process.h"

namespace testing_support {

class ProcessWatch {
public:
    explicit ProcessWatch(const platform::ProcessHandle& process);
    ~ProcessWatch();
    ProcessWatch(const ProcessWatch&) = delete;
    ProcessWatch& operator=(const ProcessWatch&) = delete;

    // Waits up to a generous deadline; true once the program has ended.
    bool Ended() const;

private:
    long long watch_ = -1;  // POSIX: a pidfd; Windows: a process handle
};

}  // namespace testing_support
