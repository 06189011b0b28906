#include "acquisition/port_buffers.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "acquisition/log_file.h"
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
        EXPECT_GE(arrays_.Capacity[static_cast<size_t>(i)], 513u);
        arrays_.PortBuffer[i][512] = '\0';  // the zero's byte exists (ASan would object)
    }
}

TEST_F(PortBuffers, SizeGrowsBy512PerLoggedStepWhileCopiesStayFew) {
    constexpr int kSteps = 2000;  // about a megabyte
    for (int step = 0; step < kSteps; ++step) {
        ASSERT_TRUE(GrowPortBuffer(arrays_, 1, 7, dir_.path().c_str()));
        // Every byte up to the size, and the zero after it, can be written.
        arrays_.PortBuffer[1][arrays_.CurrentBufferSize[1]] = '\0';
    }
    EXPECT_EQ(arrays_.CurrentBufferSize[1], 512 * (kSteps + 1));
    EXPECT_EQ(arrays_.CurrentBufferSize[0], 512);
    EXPECT_LT(g_reallocations, 30);  // geometric: logarithmic in the size
    const std::string log = Log();
    EXPECT_NE(log.find("  18  Dynamic memory reallocation: COM7 total size: 1024" + kEol),
              std::string::npos);
    EXPECT_NE(log.find("  18  Dynamic memory reallocation: COM7 total size: 1024512" + kEol),
              std::string::npos);
    size_t entries = 0;
    for (size_t at = log.find("  18  "); at != std::string::npos; at = log.find("  18  ", at + 1)) {
        ++entries;
    }
    EXPECT_EQ(entries, static_cast<size_t>(kSteps));
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
