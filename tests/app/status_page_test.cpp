#include "app/status_page.h"

#include <gtest/gtest.h>

#include <mutex>

#include "scripted_front_end.h"

namespace {

using testing_support::RecordingCanvas;

RecordingCanvas DrawPage(bool running) {
    RecordingCanvas canvas;
    std::lock_guard<std::mutex> lock(StatusLock);
    DrawStatusPage(canvas, running);
    return canvas;
}

void SetText(StatusIndex index, const std::string& text) {
    std::lock_guard<std::mutex> lock(StatusLock);
    StatusText(index) = text;
}

class StatusPage : public ::testing::Test {
protected:
    void SetUp() override { ResetStatusTexts(); }
    void TearDown() override { ResetStatusTexts(); }
};

TEST_F(StatusPage, TitleBlockAndLabelsStandAtTheirPlacesInTheirColours) {
    const RecordingCanvas page = DrawPage(false);
    ASSERT_EQ(page.texts.size(), 3u + 8u + 8u) << "nothing else is drawn";

    EXPECT_EQ(page.At(10, 2).text, std::string(31, ' ') + "KOVA-Brenthal");
    EXPECT_EQ(page.At(10, 18).text, std::string(43, ' ') + "Data Acquisition System Status");
    EXPECT_EQ(page.At(10, 34).text, std::string(50, ' ') + "Quorvane Version 1.3");
    for (int y : {2, 18, 34}) {
        EXPECT_EQ(page.At(10, y).colour, kBlue);
    }
    const std::pair<int, const char*> labels[] = {
        {60, "Data acquisition:"},    {76, "Diagnostic statistics:"}, {92, "Ports currently open:"},
        {108, "Port errors:"},        {124, "Received data from:"},   {140, "Buffer overflows:"},
        {156, "Last status update:"}, {172, "Next status update:"},
    };
    for (const auto& [y, label] : labels) {
        EXPECT_EQ(page.At(10, y).text, label);
        EXPECT_EQ(page.At(10, y).colour, kBlack);
    }
}

TEST_F(StatusPage, ANewDocumentShowsDisabledTwiceAndNoneSixTimesInDarkGreen) {
    const RecordingCanvas page = DrawPage(false);
    const char* expected[] = {"Disabled", "Disabled", "None", "None",
                              "None",     "None",     "None", "None"};
    for (int i = 0; i < kStatusCount; ++i) {
        const int y = 60 + 16 * i;
        EXPECT_EQ(page.At(160, y).text, expected[i]) << "y = " << y;
        EXPECT_EQ(page.At(160, y).colour, kDarkGreen) << "y = " << y;
    }
}

TEST_F(StatusPage, StoppedEveryValueIsDarkGreenWhateverItHolds) {
    SetText(kStatusPortErrors, "COM1,COM2");
    SetText(kStatusReceivedData, "First update at 12:01 UTC");
    SetText(kStatusLastUpdate, "05-03-97 14:05 UTC");
    const RecordingCanvas page = DrawPage(false);
    for (int i = 0; i < kStatusCount; ++i) {
        EXPECT_EQ(page.At(160, 60 + 16 * i).colour, kDarkGreen);
    }
}

TEST_F(StatusPage, RunningValuesShowProblemsInRedAndPendingValuesInPurple) {
    struct Case {
        StatusIndex index;
        const char* text;
        Rgb colour;
    };
    const Case cases[] = {
        {kStatusAcquisition, "Enabled on 05-03-97 at 14:05:09 UTC", kDarkGreen},
        {kStatusStatistics, "None", kDarkGreen},
        {kStatusPortsOpen, "None", kRed},
        {kStatusPortsOpen, "COM1,COM2", kDarkGreen},
        {kStatusPortsOpen, "none", kDarkGreen},  // the word is looked for with its case
        {kStatusPortErrors, "None", kDarkGreen},
        {kStatusPortErrors, "COM3", kRed},
        {kStatusReceivedData, "None", kRed},
        {kStatusReceivedData, "First update at 14:06 UTC", kPurple},
        {kStatusReceivedData, "COM1", kDarkGreen},
        {kStatusReceivedData, "", kDarkGreen},
        {kStatusBufferOverflows, "First update at 14:06 UTC", kPurple},
        {kStatusBufferOverflows, "None", kDarkGreen},
        {kStatusBufferOverflows, "COM2", kRed},
        {kStatusBufferOverflows, "", kRed},
        {kStatusLastUpdate, "05-03-97 14:06 UTC         ", kPurple},
        {kStatusNextUpdate, "None", kPurple},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ValueColour(c.index, c.text, true), c.colour)
            << "index " << c.index << " text \"" << c.text << "\"";
    }
}

// An instrument that stopped talking leaves its open port out of the list of
// ports that delivered: that is a problem, not a healthy page.
TEST_F(StatusPage, AnOpenPortMissingFromTheReceivedListIsAProblem) {
    SetText(kStatusPortsOpen, "COM1,COM3" + std::string(57, ' '));
    EXPECT_EQ(ValueColour(kStatusReceivedData, "COM1" + std::string(57, ' '), true), kRed);
    EXPECT_EQ(ValueColour(kStatusReceivedData, "COM3,COM1", true), kDarkGreen);
    EXPECT_EQ(ValueColour(kStatusReceivedData, "First update at 14:06 UTC", true), kPurple);
    EXPECT_EQ(SilentPorts("COM1,COM3,COM12  ", "COM1,COM12"), std::vector<std::string>{"COM3"});
    EXPECT_EQ(SilentPorts("None", "None"), std::vector<std::string>{});
    SetText(kStatusPortsOpen, "None");
}

TEST_F(StatusPage, ThePageUsesTheColourOfEachValue) {
    SetText(kStatusPortsOpen, "None");
    SetText(kStatusPortErrors, "COM1");
    SetText(kStatusReceivedData, "First update at 14:06 UTC");
    SetText(kStatusBufferOverflows, "None");
    const RecordingCanvas running = DrawPage(true);
    EXPECT_EQ(running.At(160, 60).colour, kDarkGreen);
    EXPECT_EQ(running.At(160, 92).colour, kRed);
    EXPECT_EQ(running.At(160, 108).colour, kRed);
    EXPECT_EQ(running.At(160, 124).colour, kPurple);
    EXPECT_EQ(running.At(160, 140).colour, kDarkGreen) << "back to dark green after purple";
    EXPECT_EQ(running.At(160, 156).colour, kPurple);
    EXPECT_EQ(running.At(160, 172).colour, kPurple);
}

TEST(AutoStart, TheFirstFiveCharactersAreComparedWithoutCase) {
    for (const char* yes : {"/AUTO", "/auto", "/Auto", "/AUTOSTART", "/autoXYZ"}) {
        EXPECT_TRUE(IsAutoStartArgument(std::string(yes))) << yes;
    }
    for (const char* no : {"/AUT", "AUTO", "", " /AUTO", "-AUTO", "/AUT0"}) {
        EXPECT_FALSE(IsAutoStartArgument(std::string(no))) << no;
    }
    EXPECT_FALSE(IsAutoStartArgument(std::nullopt));
}

}  // namespace
