#include "acquisition/port_buffers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "log/log_file.h"
#include "platform/fake_clock.h"
#include "support/temp_dir.h"

namespace {

#ifdef _WIN32
const std::string kEol = "\r\n";  // the log is a text file
#else
const std::string kEol = "\n";
#endif

int g_reallocations = 0;
int g_fail_from = 1 << 30;  // reallocation number from which every one fails

void* CountingRealloc(void* block, size_t size) {
    if (++g_reallocations >= g_fail_from) {
        return nullptr;
    }
    return std::realloc(block, size);
}

class PortBuffers : public ::testing::Test {
protected:
    PortBuffers() : clock_(platform::FakeClock::EpochMs(2024, 3, 1, 9)), scope_(clock_) {
        g_reallocations = 0;
        g_fail_from = 1 << 30;
        SetPortBufferReallocator(CountingRealloc);
        arrays_ = AllocatePerPortArrays(2);
    }
    ~PortBuffers() override {
        FreePerPortArrays(arrays_);
        SetPortBufferReallocator(nullptr);
    }
    std::string Log() {
        return testing_support::ReadFile(LogFilePath(dir_.path().c_str(), clock_.Now()));
    }

    testing_support::TempDir dir_;
    platform::FakeClock clock_;
    platform::ClockScope scope_;
    PerPortArrays arrays_;
};

TEST_F(PortBuffers, StartWithRoomFor512BytesAndTheTerminatingZero) {
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(arrays_.CurrentBufferSize[i], 512);
        EXPECT_EQ(arrays_.PortBufferIndex[i], 0);
        arrays_.PortBuffer[i][512] = '\0';  // the zero's byte exists (ASan would object)
    }
}

// Every growth is a real reallocation and has its one log entry: a megabyte
// takes a few dozen, not one per 512 bytes.
TEST_F(PortBuffers, EachGrowthReallocatesByHalfAgainAndLogsTheNewSize) {
    std::vector<int32_t> sizes;
    while (arrays_.CurrentBufferSize[1] < (1 << 20)) {
        const int32_t before = arrays_.CurrentBufferSize[1];
        ASSERT_TRUE(GrowPortBuffer(arrays_, 1, 7, dir_.path().c_str()));
        const int32_t after = arrays_.CurrentBufferSize[1];
        EXPECT_EQ(after % 512, 0);
        EXPECT_GE(after, before + before / 2);
        EXPECT_LT(after, before + before / 2 + 512 + 1);
        // Every byte up to the size, and the zero after it, can be written.
        std::memset(arrays_.PortBuffer[1], 'x', static_cast<size_t>(after));
        arrays_.PortBuffer[1][after] = '\0';
        sizes.push_back(after);
    }
    const int32_t first = sizes.empty() ? 0 : sizes[0];
    EXPECT_EQ(first, 1024);  // 512 grows by a whole step
    EXPECT_EQ(arrays_.CurrentBufferSize[0], 512);
    EXPECT_EQ(g_reallocations, static_cast<int>(sizes.size()));
    EXPECT_LT(sizes.size(), 30u);
    std::vector<std::string> entries;
    const std::string log = Log();
    for (size_t at = log.find("  18  "); at != std::string::npos; at = log.find("  18  ", at + 1)) {
        entries.push_back(log.substr(at + 2, log.find(kEol, at) - at - 2));
    }
    ASSERT_EQ(entries.size(), sizes.size());
    for (size_t k = 0; k < sizes.size(); ++k) {
        EXPECT_EQ(entries[k],
                  "18  Dynamic memory reallocation: COM7 total size: " + std::to_string(sizes[k]));
    }
}

TEST_F(PortBuffers, FailedGrowthKeepsSizeAndContentsAndIsLogged) {
    std::memset(arrays_.PortBuffer[1], 'k', 512);
    g_fail_from = 1;
    EXPECT_FALSE(GrowPortBuffer(arrays_, 1, 7, dir_.path().c_str()));
    EXPECT_EQ(arrays_.CurrentBufferSize[1], 512);
    EXPECT_EQ(std::string(arrays_.PortBuffer[1], 512), std::string(512, 'k'));
    const std::string log = Log();
    EXPECT_NE(
        log.find("  17  Realloc error: NULL returned while allocating memory for PortBuffer[1]."),
        std::string::npos);
    EXPECT_EQ(log.find("  18  "), std::string::npos);
    g_fail_from = 1 << 30;  // memory is back: the next step works
    EXPECT_TRUE(GrowPortBuffer(arrays_, 1, 7, dir_.path().c_str()));
    EXPECT_EQ(std::string(arrays_.PortBuffer[1], 512), std::string(512, 'k'));
}

}  // namespace
