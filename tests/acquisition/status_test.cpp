#include "acquisition/status.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

struct RecordingObserver : StatusObserver {
    std::vector<std::vector<StatusDraw>> blocks;
    bool lock_was_free = true;
    void OnStatusDrawn(const std::vector<StatusDraw>& block) override {
        // the observer is told after the lock is released
        if (!StatusLock.try_lock()) {
            lock_was_free = false;
        } else {
            StatusLock.unlock();
        }
        blocks.push_back(block);
    }
};

TEST(Status, PageLinesInOrder) {
    EXPECT_STREQ(StatusLineOf(kStatusAcquisition).label, "Data acquisition:");
    EXPECT_EQ(StatusLineOf(kStatusAcquisition).y, 60);
    EXPECT_STREQ(StatusLineOf(kStatusNextUpdate).label, "Next status update:");
    EXPECT_EQ(StatusLineOf(kStatusNextUpdate).y, 172);
    for (int i = 1; i < kStatusCount; ++i) {
        EXPECT_EQ(StatusLineOf(static_cast<StatusIndex>(i)).y,
                  StatusLineOf(static_cast<StatusIndex>(i - 1)).y + 16);
    }
}

TEST(Status, DrawBlockChangesUnderTheLockAndReportsAfterwards) {
    ResetStatusTexts();
    RecordingObserver observer;
    {
        StatusDrawBlock block(&observer);
        EXPECT_FALSE(StatusLock.try_lock());
        block.Set(kStatusPortsOpen, "COM1", kDarkGreen);
        block.Set(kStatusPortErrors, "COM2", kRed);
        EXPECT_TRUE(observer.blocks.empty());
    }
    ASSERT_EQ(observer.blocks.size(), 1u);
    ASSERT_EQ(observer.blocks[0].size(), 2u);
    EXPECT_EQ(observer.blocks[0][1].index, kStatusPortErrors);
    EXPECT_EQ(observer.blocks[0][1].text, "COM2");
    EXPECT_EQ(observer.blocks[0][1].colour, kRed);
    EXPECT_TRUE(observer.lock_was_free);
    std::lock_guard<std::mutex> lock(StatusLock);
    EXPECT_EQ(StatusPortErrors, "COM2");
    EXPECT_EQ(LastDrawnColour(kStatusPortErrors), kRed);
}

TEST(Status, ResetGivesDisabledTwiceAndNoneSixTimes) {
    {
        StatusDrawBlock block(nullptr);
        block.Set(kStatusAcquisition, "Enabled", kRed);
    }
    ResetStatusTexts();
    std::lock_guard<std::mutex> lock(StatusLock);
    EXPECT_EQ(StatusAcquisition, "Disabled");
    EXPECT_EQ(StatusStatistics, "Disabled");
    for (int i = kStatusPortsOpen; i < kStatusCount; ++i) {
        EXPECT_EQ(StatusText(static_cast<StatusIndex>(i)), "None");
    }
    EXPECT_EQ(LastDrawnColour(kStatusAcquisition), kDarkGreen);
}

TEST(Status, ReaderAndWriterThreadsNeverSeeAHalfChangedText) {
    ResetStatusTexts();
    const std::string long_text(4000, 'x');
    std::thread writer([&] {
        for (int i = 0; i < 2000; ++i) {
            StatusDrawBlock block(nullptr);
            block.Set(kStatusLastUpdate, i % 2 ? long_text : "None", kPurple);
        }
    });
    for (int i = 0; i < 2000; ++i) {
        std::lock_guard<std::mutex> lock(StatusLock);
        const std::string& text = StatusLastUpdate;
        ASSERT_TRUE(text == "None" || text == long_text);
    }
    writer.join();
}

}  // namespace
