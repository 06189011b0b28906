// A port whose device is not there when acquisition starts (its link is
// missing, as under wine a COM port without its dosdevices link) is tried
// again and opens once the device appears; its data is archived. The device
// is plugged in by the test script when the test asks for it (see
// tests/serial/wine-com-pairs.sh).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "log/log_file.h"
#include "platform/comm.h"
#include "platform/fake_clock.h"
#include "platform/files.h"
#include "support/engine_probe.h"
#include "support/temp_dir.h"
#include "support/test_config.h"

namespace engine_testing {
namespace {

using testing_support::Port;

// The late pair: the library's COM number and its peer's, or {0, 0}.
std::pair<int, int> LatePair() {
    const char* pair = std::getenv("QUORVANE_TEST_LATE_PAIR");
    int library = 0;
    int peer = 0;
    if (pair == nullptr || std::sscanf(pair, "%d:%d", &library, &peer) != 2) {
        return {0, 0};
    }
    return {library, peer};
}

HANDLE OpenCom(int number) {
    const std::string name = "\\\\.\\COM" + std::to_string(number);
    return CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                       nullptr);
}

TEST(EngineLatePort, APortMissingAtTheStartOpensWhenItsDeviceAppears) {
    const auto [library, peer] = LatePair();
    const char* plug = std::getenv("QUORVANE_TEST_PLUG");
    if (library == 0 || plug == nullptr) {
        GTEST_SKIP() << "no late COM port pair (run the test through its script)";
    }
    testing_support::TempDir dir;
    platform::FakeClock clock(platform::FakeClock::EpochMs(2024, 3, 1, 10, 7, 30));
    platform::ClockScope clock_scope(clock);
    Probe probe;
    RecordingView view;
    SetAcquisitionProbe(&probe);
    ResetStatusTexts();
    testing_support::ComScope config(
        testing_support::MakeTestConfig(dir.path(), 15, {Port(library, "Late")}));
    ASSERT_TRUE(StartAcquisitionThread(&view));
    ASSERT_TRUE(view.WaitForDrawn(kStatusPortErrors, "COM" + std::to_string(library)));

    testing_support::WriteFile(plug, "");  // the script plugs the device in
    HANDLE far_end = INVALID_HANDLE_VALUE;
    for (int second = 0; far_end == INVALID_HANDLE_VALUE && second < 600; ++second) {
        far_end = OpenCom(peer);
        if (far_end == INVALID_HANDLE_VALUE) {
            probe.WaitForPasses(probe.passes() + 1);
        }
    }
    ASSERT_NE(far_end, INVALID_HANDLE_VALUE);
    // Every second of the clock is a chance for the next try.
    const std::string open = "COM" + std::to_string(library);
    for (int second = 32; !view.WasDrawn(kStatusPortsOpen, open) && second < 59; ++second) {
        clock.Set(2024, 3, 1, 10, 7, second);
        probe.WaitForPasses(probe.passes() + 2);
    }
    DWORD put = 0;
    ASSERT_TRUE(WriteFile(far_end, "late\n", 5, &put, nullptr));
    ASSERT_EQ(put, 5u);
    ASSERT_TRUE(probe.WaitForReceived(0, 5));
    clock.Set(2024, 3, 1, 10, 10);
    StopAcquisitionThread();
    SetAcquisitionProbe(nullptr);
    CloseHandle(far_end);

    const std::string log = testing_support::ReadFile(LogFilePath(dir.path().c_str(), clock.Now()));
    const std::string number = std::to_string(library);
    EXPECT_NE(log.find("  09  PortOpenMSWin32 error on COM" + number +
                       "...No 8250 UART at the requested location."),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("  33  COM" + number + " reopened after "), std::string::npos) << log;
    char name[32];
    std::snprintf(name, sizeof name, "2406110.P%02d", library);
    const std::string file = testing_support::ReadFile(dir.File(name));
    EXPECT_NE(file.find("late"), std::string::npos) << file;  // (text mode: CR LF)
}

}  // namespace
}  // namespace engine_testing
