// The status file and the service status line follow the drawing blocks.
#include "station/station_status.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <thread>

#include "platform/fake_clock.h"
#include "platform/file_lock.h"
#include "support/temp_dir.h"
#include "version/build_info.h"
#ifndef _WIN32
#include "support/notify_listener.h"
#endif

namespace {

using nlohmann::json;
using testing_support::ReadFile;
using testing_support::TempDir;

int64_t Seconds(const platform::FakeClock& clock) {
    return clock.EpochMsNow() / 1000;
}

class StatusMirror : public ::testing::Test {
protected:
    StatusMirror() { ResetStatusTexts(); }
    ~StatusMirror() override { ResetStatusTexts(); }

    json File() const { return json::parse(ReadFile(mirror_.FilePath())); }
    static void Draw(StatusIndex index, const std::string& text, Rgb colour) {
        StatusDrawBlock block(nullptr);  // no window: only the mirror sees it
        block.Set(index, text, colour);
    }

    platform::FakeClock clock_{platform::FakeClock::EpochMs(2024, 3, 1, 10, 7, 30)};
    platform::ClockScope scope_{clock_};
    TempDir dir_;
    StationStatusMirror mirror_{dir_.path()};
};

TEST_F(StatusMirror, TheFileHoldsThePageTheTimeOfItsLastChangeAndWhoWroteIt) {
    mirror_.Start();
    EXPECT_EQ(mirror_.FilePath(), dir_.File("quorvane-status.json"));
    json file = File();
    EXPECT_EQ(file["program"], "Quorvane");
    EXPECT_EQ(file["version"], "1.3");
    EXPECT_EQ(file["commit"], BuildCommit());
    EXPECT_EQ(file["process"], platform::OwnProcessId());
    EXPECT_EQ(file["directory"], dir_.path());
    EXPECT_EQ(file["changed"], Seconds(clock_));
    EXPECT_EQ(file["changed_utc"], "2024-03-01T10:07:30Z");
    ASSERT_EQ(file["lines"].size(), 8u);
    EXPECT_EQ(file["lines"][0], (json{{"label", "Data acquisition:"},
                                      {"text", "Disabled"},
                                      {"colour", "#006400"},
                                      {"state", "ok"}}));
    EXPECT_EQ(file["lines"][7]["label"], "Next status update:");
    EXPECT_EQ(file["lines"][7]["text"], "None");

    clock_.AdvanceMs(61000);
    {
        StatusDrawBlock block(nullptr);
        block.Set(kStatusAcquisition, "Enabled on 03-01-24 at 10:08:31 UTC", kDarkGreen);
        block.Set(kStatusPortErrors, "COM4" + std::string(57, ' '), kRed);
        block.Set(kStatusReceivedData, "First update at 10:09 UTC", kPurple);
    }
    file = File();
    EXPECT_EQ(file["changed"], Seconds(clock_));
    EXPECT_EQ(file["lines"][0]["text"], "Enabled on 03-01-24 at 10:08:31 UTC");
    EXPECT_EQ(file["lines"][3], (json{{"label", "Port errors:"},
                                      {"text", "COM4"},
                                      {"colour", "#ff0000"},
                                      {"state", "problem"}}))
        << "the blanks that paint over a longer text are left out";
    EXPECT_EQ(file["lines"][4]["state"], "pending");

    // Drawing the same texts again is no change: the time stays.
    clock_.AdvanceMs(5000);
    Draw(kStatusPortErrors, "COM4", kRed);
    EXPECT_EQ(File()["changed"], Seconds(clock_) - 5);
    Draw(kStatusPortErrors, "COM4", kDarkGreen);
    EXPECT_EQ(File()["changed"], Seconds(clock_)) << "a new colour is a change";

    // Stopped, it no longer follows; the file stays with the last page.
    mirror_.Stop();
    Draw(kStatusPortErrors, "COM5", kRed);
    EXPECT_EQ(File()["lines"][3]["text"], "COM4");
}

TEST_F(StatusMirror, ReadersSeeOnlyWholeFilesWhileItChanges) {
    mirror_.Start();
    std::atomic<bool> done{false};
    std::atomic<int> reads{0};
    std::atomic<int> unopened{0};
    std::atomic<int> broken{0};
    std::thread reader([&] {
        while (!done.load()) {
            std::ifstream file(mirror_.FilePath(), std::ios::binary);
            if (!file.is_open()) {
                ++unopened;  // Windows: for a moment while the name moves
                continue;
            }
            std::ostringstream text;
            text << file.rdbuf();
            StationStatus status;
            if (!ParseStatusFile(text.str(), status) || status.lines.size() != 8) {
                ++broken;
            }
            ++reads;
        }
    });
    // Texts of changing length, so that a file rewritten in place would be
    // seen short, long or mixed.
    for (int i = 0; i < 300 || reads.load() < 50; ++i) {
        Draw(kStatusReceivedData, std::string(static_cast<size_t>(1 + i % 97), 'x'), kDarkGreen);
    }
    done = true;
    reader.join();
    EXPECT_EQ(broken.load(), 0) << "of " << reads.load() << " reads";
#ifndef _WIN32
    EXPECT_EQ(unopened.load(), 0) << "the name always names a whole file";
#endif
    EXPECT_FALSE(std::filesystem::exists(mirror_.FilePath() + ".tmp"));
}

TEST(StatusFile, ReadingBackRefusesWhatIsNotAStatusFile) {
    StatusPageCopy page;
    page.texts.fill("None");
    page.colours.fill(kDarkGreen);
    page.colours[2] = kRed;
    StationStatus status;
    ASSERT_TRUE(ParseStatusFile(StatusFileText(page, 1709287650, 99, "/data"), status));
    EXPECT_EQ(status.process, 99);
    EXPECT_EQ(status.changed, 1709287650);
    EXPECT_EQ(status.version, "1.3");
    ASSERT_EQ(status.lines.size(), 8u);
    EXPECT_EQ(status.lines[2].label, "Ports currently open:");
    EXPECT_EQ(status.lines[2].state, "problem");

    for (const char* text :
         {"", "{", "[]", "{\"program\": \"Other\"}", "{\"program\": \"Quorvane\", \"version\": 1}",
          "{\"program\": \"Quorvane\", \"version\": \"1.3\", \"process\": 1, "
          "\"changed\": 2, \"lines\": [{\"label\": 3}]}"}) {
        EXPECT_FALSE(ParseStatusFile(text, status)) << text;
    }
}

#ifndef _WIN32
TEST_F(StatusMirror, TheServiceStatusLineFollowsTheAcquisitionAndPortLinesOnly) {
    testing_support::NotifyListener manager;
    ASSERT_TRUE(manager.ok());
    mirror_.Start();
    EXPECT_EQ(manager.Pending(),
              "STATUS=Data acquisition: Disabled; Ports currently open: None; Port errors: None");
    {
        StatusDrawBlock block(nullptr);
        block.Set(kStatusAcquisition, "Enabled on 03-01-24 at 10:07:30 UTC", kDarkGreen);
        block.Set(kStatusPortsOpen, "COM1,COM3", kDarkGreen);
        block.Set(kStatusPortErrors, "COM2   ", kRed);
        block.Set(kStatusReceivedData, "First update at 10:08 UTC", kPurple);
    }
    EXPECT_EQ(manager.Pending(),
              "STATUS=Data acquisition: Enabled on 03-01-24 at 10:07:30 UTC; Ports currently "
              "open: COM1,COM3; Port errors: COM2");
    Draw(kStatusLastUpdate, "03-01-24 10:08 UTC", kPurple);
    EXPECT_EQ(manager.Pending(), std::nullopt) << "the other lines do not make a new status";
    // An open port that delivered nothing since the last update is told too.
    Draw(kStatusReceivedData, "COM1", kRed);
    EXPECT_EQ(manager.Pending(),
              "STATUS=Data acquisition: Enabled on 03-01-24 at 10:07:30 UTC; Ports currently "
              "open: COM1,COM3; Port errors: COM2; Silent: COM3");
    EXPECT_EQ(File()["silent"], json::array({"COM3"}));
    EXPECT_EQ(File()["lines"][4]["state"], "problem");
    // Why a port failed goes with the page's next change.
    SetPortFailure(2, "COM2 (/dev/ttyUSB7) cannot be used: No such file or directory");
    Draw(kStatusPortErrors, "COM2", kRed);
    EXPECT_EQ(manager.Pending(),
              "STATUS=Data acquisition: Enabled on 03-01-24 at 10:07:30 UTC; Ports currently "
              "open: COM1,COM3; Port errors: COM2; Silent: COM3; COM2 (/dev/ttyUSB7) cannot be "
              "used: No such file or directory");
    EXPECT_EQ(File()["port_failures"],
              json::array({"COM2 (/dev/ttyUSB7) cannot be used: No such file or directory"}));
    ClearPortFailures();
}
#endif

}  // namespace
