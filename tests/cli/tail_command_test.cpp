// quorvane-cli tail against journals a logger writes meanwhile: it shows
// what arrives after it started, port after port, and takes up a journal
// that appears later from its beginning.
#include "cli/tail_command.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <sstream>
#include <thread>

#include "acquisition/journal.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;

// Runs the command on its own thread; the test waits for what it printed.
class TailRun {
public:
    explicit TailRun(TailOptions options) : thread_([this, options] {
        status_ = RunTail(options, out_, err_, [this](std::chrono::milliseconds wait) {
            std::unique_lock<std::mutex> lock(mutex_);
            printed_ = out_.str();
            ++looks_;
            changed_.notify_all();
            return changed_.wait_for(lock, wait, [this] { return stop_; });
        });
    }) {}
    ~TailRun() { Stop(); }

    // Waits until the command has looked `count` times in all.
    bool WaitForLooks(int count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(30), [&] { return looks_ >= count; });
    }
    int looks() {
        const std::lock_guard<std::mutex> lock(mutex_);
        return looks_;
    }
    // Waits until it has printed `text` (and returns all it printed).
    std::string WaitForOutput(const std::string& text) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait_for(lock, std::chrono::seconds(30),
                          [&] { return printed_.find(text) != std::string::npos; });
        return printed_;
    }
    int Stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        changed_.notify_all();
        if (thread_.joinable()) {
            thread_.join();
        }
        return status_;
    }

private:
    std::ostringstream out_;
    std::ostringstream err_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string printed_;
    int looks_ = 0;
    bool stop_ = false;
    int status_ = -1;
    std::thread thread_;
};

TEST(TailCommand, ShowsWhatArrivesPortAfterPortAndTakesUpAJournalThatAppears) {
    TempDir dir;
    PortJournal thermo(dir.path().c_str(), 2, "Thermo");
    Leftovers leftovers;
    ASSERT_TRUE(thermo.Open(leftovers));
    thermo.Append("before the tail\r", 16, 1000);

    TailOptions options;
    options.directory = dir.path();
    options.interval = std::chrono::milliseconds(5);
    TailRun tail(options);
    ASSERT_TRUE(tail.WaitForLooks(1));
    thermo.Append("21.5 1013\r", 10, 2000);
    EXPECT_EQ(tail.WaitForOutput("21.5 1013\r"), "21.5 1013\r");

    PortJournal baro(dir.path().c_str(), 5, "Baro");
    ASSERT_TRUE(baro.Open(leftovers));
    baro.Append("P 998.2\r", 8, 3000);
    thermo.Append("21.6 1012\r", 10, 4000);
    const std::string printed = tail.WaitForOutput("21.6 1012\r");
    EXPECT_NE(printed.find("\n==> COM5 <==\nP 998.2\r"), std::string::npos) << printed;
    EXPECT_EQ(tail.Stop(), 0);
}

TEST(TailCommand, TakesADirectoryAndPortsInAnyOrder) {
    TempDir dir;
    TailOptions options;
    std::string error;
    ASSERT_TRUE(ReadTailArguments({"com3", dir.path(), "COM12"}, options, error)) << error;
    EXPECT_EQ(options.directory, dir.path());
    EXPECT_EQ(options.ports, (std::vector<int>{3, 12}));
    TailOptions other;
    EXPECT_FALSE(ReadTailArguments({"COMX"}, other, error));
    EXPECT_EQ(error, "\"COMX\" is neither COMn nor a directory");
    TailOptions two;
    EXPECT_FALSE(ReadTailArguments({dir.path(), dir.path()}, two, error));
    EXPECT_EQ(error, "\"" + dir.path() + "\": one directory only (" + dir.path() + " is given)");
}

}  // namespace
