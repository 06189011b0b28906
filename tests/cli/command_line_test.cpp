// The command line of the companion programs: --version, and usage errors
// that name what is wrong and end with 64.
#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "cli/check_command.h"
#include "cli/cli11.h"
#include "cli/run_command.h"
#include "cli/status_command.h"
#include "version/build_info.h"

namespace {

// "unknown", or twelve hex digits with "-modified" after them or not.
bool IsCommitText(const std::string& text) {
    if (text == "unknown") {
        return true;
    }
    const std::string digits = text.substr(0, 12);
    const std::string rest = text.substr(digits.size());
    return digits.size() == 12 &&
           digits.find_first_not_of("0123456789abcdef") == std::string::npos &&
           (rest.empty() || rest == "-modified");
}

// quorvane-cli's command line as main builds it.
struct Program {
    Program() {
        app.require_subcommand(1);
        AddVersionFlag(app, "quorvane-cli");
        AddCheckCommand(app, status);
        AddRunCommand(app, status);
        AddStatusCommand(app, status);
    }
    // The exit status of a command line that does not get to run a command.
    std::optional<int> Parse(const std::vector<std::string>& arguments) {
        testing::internal::CaptureStdout();
        const auto result = ParseCommandLine(app, "quorvane-cli", arguments, err);
        out = testing::internal::GetCapturedStdout();
        return result;
    }
    CLI::App app{"test", "quorvane-cli"};
    int status = -1;
    std::ostringstream err;
    std::string out;
};

TEST(CommandLine, VersionNamesTheProgramTheVersionAndTheCommit) {
    Program program;
    EXPECT_EQ(program.Parse({"--version"}), 0);
    EXPECT_EQ(program.out, "quorvane-cli 1.3 (commit " + std::string(BuildCommit()) + ")\n");
    EXPECT_EQ(program.err.str(), "");
    EXPECT_TRUE(IsCommitText(BuildCommit())) << BuildCommit();
}

#ifndef _WIN32
TEST(CommandLine, TheCommitIsTheSourceTreesOwn) {
    // Built from a git work tree, the commit is its HEAD at build time, which
    // the test's own tree still is (tests build and run from one checkout).
    std::FILE* git =
        popen("git -C '" QUORVANE_SOURCE_DIR "' rev-parse --short=12 HEAD 2>/dev/null", "r");
    ASSERT_NE(git, nullptr);
    char head[64] = {};
    const bool read = std::fgets(head, sizeof head, git) != nullptr;
    const int status = pclose(git);
    if (!read || status != 0) {
        EXPECT_STREQ(BuildCommit(), "unknown");
        return;
    }
    std::string commit = head;
    commit.erase(commit.find_last_not_of("\n") + 1);
    EXPECT_EQ(std::string(BuildCommit()).substr(0, 12), commit);
}
#endif

TEST(CommandLine, UsageErrorsNameWhatIsWrongAndEndWith64) {
    struct Case {
        std::vector<std::string> arguments;
        std::string message;
    };
    const Case cases[] = {
        {{}, "quorvane-cli: a command is needed: check, run or status\n"},
        {{"chek"},
         "quorvane-cli: 'chek' is not a command; the commands are check, run or status\n"},
        {{"check", "--jsn"}, "quorvane-cli: The following argument was not expected: --jsn\n"},
        {{"--verbose"}, "quorvane-cli: The following argument was not expected: --verbose\n"},
        {{"run", "--for", "-5"},
         "quorvane-cli: --for: '-5' is not a number of seconds from 0 to 1000000000\n"},
        {{"run", "--for", "1e400"},
         "quorvane-cli: --for: '1e400' is not a number of seconds from 0 to 1000000000\n"},
        {{"run", "--for", "ten"},
         "quorvane-cli: --for: 'ten' is not a number of seconds from 0 to 1000000000\n"},
    };
    for (const Case& c : cases) {
        Program program;
        SCOPED_TRACE(testing::PrintToString(c.arguments));
        EXPECT_EQ(program.Parse(c.arguments), kExitUsage);
        EXPECT_EQ(program.err.str(),
                  c.message + "Run 'quorvane-cli --help' for more information.\n");
        EXPECT_EQ(program.status, -1) << "no command ran";
    }
    EXPECT_EQ(kExitUsage, 64);
}

TEST(CommandLine, HelpEndsWithZeroAndAValidLineRunsItsCommand) {
    Program program;
    EXPECT_EQ(program.Parse({"status", "--help"}), 0);
    EXPECT_NE(program.out.find("Usage: quorvane-cli status [OPTIONS] [DIR]"), std::string::npos)
        << program.out;
    Program valid;
    testing::internal::CaptureStderr();
    EXPECT_EQ(valid.Parse({"check", "nonexistent-Quorvane.ini"}), std::nullopt);
    testing::internal::GetCapturedStderr();
    EXPECT_EQ(valid.status, 1) << "check ran: the file cannot be opened";
}

TEST(CommandLine, SecondsAreCheckedPlainly) {
    EXPECT_EQ(CheckSeconds("0", 10), "");
    EXPECT_EQ(CheckSeconds("2.5", 10), "");
    EXPECT_EQ(CheckSeconds("10", 10), "");
    EXPECT_NE(CheckSeconds("10.5", 10), "");
    EXPECT_NE(CheckSeconds("nan", 10), "");
    EXPECT_NE(CheckSeconds("", 10), "");
    EXPECT_NE(CheckSeconds("5s", 10), "");
}

}  // namespace
