// Tests of code that ends the process: the part that ends it runs as a test of
// its own (named DISABLED_..., so that it runs only when asked for) in a child
// process, which shares the current directory and the environment.
#pragma once

#include <optional>
#include <string>

namespace testing_support {

// Runs `test_name` ("Suite.DISABLED_Case") of this executable in a child
// process and waits for it. Its exit status, or nothing if it did not end
// within a generous deadline.
std::optional<int> RunTestInChildProcess(const std::string& test_name);

// The exit status of a process that ended with ExitProcess(-1).
#ifdef _WIN32
inline constexpr int kExitStatusMinusOne = -1;
#else
inline constexpr int kExitStatusMinusOne = 255;
#endif

}  // namespace testing_support
