#include "platform/process.h"

#include <gtest/gtest.h>

#include <csignal>
#include <string>
#include <vector>

#include "platform/external_programs.h"
#include "support/recorded_programs.h"

namespace {

using testing_support::RecordedPrograms;

#ifdef _WIN32
constexpr char kFake[] = "fake-viewer.exe";
#else
constexpr char kFake[] = "fake-viewer";
#endif

TEST(Process, EveryArgumentArrivesUnchanged) {
    RecordedPrograms programs({kFake});
    const std::vector<std::string> arguments = {
        "/E",       "/data/with blanks/97123.LOG", "say \"hi\"", "trailing\\", "two\\\\", "",
        "tab\there"};
    const auto process = platform::StartProcess(kFake, arguments);
    ASSERT_TRUE(process.has_value());
    const auto runs = programs.WaitForRuns(1);
    ASSERT_EQ(runs.size(), 1u);
    std::vector<std::string> expected = {kFake};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(runs[0], expected);
    EXPECT_TRUE(platform::WaitForProcessEnd(*process, 30000));
    platform::ReleaseProcess(*process);
}

TEST(Process, AProgramNotOnTheSearchPathIsNotStarted) {
    EXPECT_FALSE(platform::StartProcess("quorvane-no-such-program", {"x"}).has_value());
}

TEST(Process, TerminateEndsARunningProgramAndPassesOverAnEndedOne) {
    RecordedPrograms programs({kFake});
    programs.StayRunning(true);
    const auto running = platform::StartProcess(kFake, {"stay"});
    ASSERT_TRUE(running.has_value());
    ASSERT_EQ(programs.WaitForRuns(1).size(), 1u);
    EXPECT_FALSE(platform::WaitForProcessEnd(*running, 0));
    EXPECT_TRUE(platform::TerminateProcess(*running));
    EXPECT_TRUE(platform::WaitForProcessEnd(*running, 30000));
    EXPECT_FALSE(platform::TerminateProcess(*running)) << "ended already";
#ifdef _WIN32
    EXPECT_EQ(platform::ExitStatus(*running), 0);
#else
    EXPECT_EQ(platform::ExitStatus(*running), 128 + SIGTERM);
#endif
    platform::ReleaseProcess(*running);

    programs.StayRunning(false);
    const auto finished = platform::StartProcess(kFake, {"done"});
    ASSERT_TRUE(finished.has_value());
    EXPECT_FALSE(platform::ExitStatus(*finished).has_value() &&
                 !platform::WaitForProcessEnd(*finished, 0))
        << "a status only once it has ended";
    ASSERT_TRUE(platform::WaitForProcessEnd(*finished, 30000));
    EXPECT_EQ(platform::ExitStatus(*finished), 0);
    EXPECT_FALSE(platform::TerminateProcess(*finished));
    platform::ReleaseProcess(*finished);
}

TEST(Process, WindowsCommandLineQuoting) {
    using platform::QuoteWindowsArgument;
    EXPECT_EQ(QuoteWindowsArgument("plain"), "plain");
    EXPECT_EQ(QuoteWindowsArgument("C:\\DATA\\97123.LOG"), "C:\\DATA\\97123.LOG");
    EXPECT_EQ(QuoteWindowsArgument(""), "\"\"");
    EXPECT_EQ(QuoteWindowsArgument("D:\\My Data\\x.P01"), "\"D:\\My Data\\x.P01\"");
    EXPECT_EQ(QuoteWindowsArgument("a\"b"), "\"a\\\"b\"");
    EXPECT_EQ(QuoteWindowsArgument("a\\\"b"), "\"a\\\\\\\"b\"");
    EXPECT_EQ(QuoteWindowsArgument("dir with\\"), "\"dir with\\\\\"");
    EXPECT_EQ(platform::BuildWindowsCommandLine({"v.exe", "/E", "C:\\a b\\c.LOG"}),
              "v.exe /E \"C:\\a b\\c.LOG\"");
}

TEST(ExternalPrograms, SerialTerminalGetsThePortAndItsLineSettings) {
    const std::vector<std::string> values = {"3", "9600", "E", "7", "2"};
#ifdef _WIN32
    const auto command = platform::SerialTerminalCommand(values, "COM3");
    EXPECT_EQ(command.program, "Wexlorant.exe");
    EXPECT_EQ(command.arguments, values);
    EXPECT_EQ(platform::SerialDevicePath(3, "/dev/ignored"), "COM3");
#else
    EXPECT_EQ(platform::SerialDevicePath(3, ""), "/dev/ttyS2");
    EXPECT_EQ(platform::SerialDevicePath(3, "/dev/ttyUSB0"), "/dev/ttyUSB0");
    const auto command = platform::SerialTerminalCommand(values, "/dev/ttyUSB0");
    EXPECT_EQ(command.program, "x-terminal-emulator");
    const std::vector<std::string> expected = {"-e", "tio", "-b", "9600", "-p",          "even",
                                               "-d", "7",   "-s", "2",    "/dev/ttyUSB0"};
    EXPECT_EQ(command.arguments, expected);
    EXPECT_EQ(
        platform::SerialTerminalCommand({"1", "4800", "N", "8", "1"}, "/dev/ttyS0").arguments[5],
        "none");
#endif
}

}  // namespace
