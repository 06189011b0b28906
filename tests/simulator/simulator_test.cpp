// The fault simulator: seeded schedules of faults against the real engine,
// each judged by the byte-accounting checker; and the checker's own test,
// which damages an engine's files in the ways a broken engine would.
//
//   simulator_tests --seeds=1-250             seeds 1 to 250
//   simulator_tests --seed=12345              one schedule, its events and findings
//   simulator_tests --without=crash,vanish    leaves kinds of trouble out
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "checker.h"
#include "platform/durable_file.h"
#include "platform/file_faults.h"
#include "platform/files.h"
#include "schedule.h"
#include "simulated_disk.h"
#include "simulation.h"
#include "support/temp_dir.h"

namespace simulation {
namespace {

struct Options {
    uint64_t first = 1;
    uint64_t last = 50;
    uint32_t troubles = kEveryTrouble;
    std::string without;
    std::string program = "simulator_tests";
    bool show = false;  // print the schedule of a single seed even when it holds
};
Options g_options;

std::string ReplayCommand(uint64_t seed) {
    std::string command = g_options.program + " --seed=" + std::to_string(seed);
    if (!g_options.without.empty()) {
        command += " --without=" + g_options.without;
    }
    return command;
}

std::string Report(const Schedule& schedule, const Outcome& outcome) {
    std::string report = "schedule " + schedule.Describe() + "what happened:\n";
    for (const std::string& line : outcome.trace) {
        report += "  " + line + "\n";
    }
    report += "what the checker found:\n";
    for (const std::string& finding : outcome.findings) {
        report += "  " + finding + "\n";
    }
    report += "replay: " + ReplayCommand(schedule.seed) + "\n";
    return report;
}

TEST(FaultSimulator, EveryScheduleKeepsEveryByteAccountedFor) {
    int failed = 0;
    for (uint64_t seed = g_options.first; seed <= g_options.last; ++seed) {
        const Schedule schedule = GenerateSchedule(seed, g_options.troubles);
        const Outcome outcome = RunSchedule(schedule);
        if (!outcome.findings.empty()) {
            ++failed;
            ADD_FAILURE() << Report(schedule, outcome);
        } else if (g_options.show) {
            std::printf("%s", Report(schedule, outcome).c_str());
        }
    }
    EXPECT_EQ(failed, 0) << "of seeds " << g_options.first << " to " << g_options.last;
}

// A schedule without trouble whose files the checker accepts; then each
// damage a broken engine could do is planted in a copy of them and must be
// found.
TEST(FaultSimulator, TheCheckerFindsWhatABrokenEngineWouldDo) {
    uint64_t seed = 1;
    Schedule schedule;
    for (;; ++seed) {  // one with text on the first port
        schedule = GenerateSchedule(seed, 0);
        int deliveries = 0;
        for (const Life& life : schedule.lives) {
            for (const Step& step : life.steps) {
                deliveries += step.kind == StepKind::kDeliver && step.port == 0 ? 1 : 0;
            }
        }
        if (deliveries >= 2) {
            break;
        }
    }
    namespace fs = std::filesystem;
    std::vector<std::string> problems;
    const Outcome outcome = RunSchedule(schedule, [&](const Accounts& accounts) {
        const Delivered& port = accounts.ports[0];
        char suffix[8];
        std::snprintf(suffix, sizeof suffix, ".P%02d", port.port_number);
        std::string data_file;
        std::string log_file;
        for (const auto& entry : fs::directory_iterator(accounts.directory)) {
            const std::string name = entry.path().filename().string();
            if (name.size() == 11 && name.compare(7, 4, suffix) == 0 && data_file.empty()) {
                data_file = entry.path().string();
            }
            if (name.size() == 9 && name.compare(5, 4, ".LOG") == 0) {
                log_file = entry.path().string();
            }
        }
        ASSERT_FALSE(data_file.empty());
        ASSERT_FALSE(log_file.empty());
        const std::string data = testing_support::ReadFile(data_file);
        const std::string log = testing_support::ReadFile(log_file);
        const size_t text = data.find("StartTime\n") + 10;
        ASSERT_LT(text + 4, data.size());
        const std::string marker = data.substr(text - 32, 32);  // "MM/DD/YY ... StartTime\n"
        auto found_after = [&](const std::string& file, const std::string& damaged) {
            fs::permissions(file, fs::perms::owner_write, fs::perm_options::add);
            testing_support::WriteFile(file, damaged);
            std::string all;
            for (const std::string& finding : CheckAccounts(accounts)) {
                all += finding + "\n";
            }
            testing_support::WriteFile(file, file == data_file ? data : log);
            return all;
        };
        struct Damage {
            const char* what;
            std::string file;
            std::string content;
            const char* finding;
        };
        const std::string entry_31 = log.substr(log.rfind('\n', log.size() - 2) + 1, 23) +
                                     "31  5 bytes received on COM" +
                                     std::to_string(port.port_number) +
                                     " were lost: its receive queue of 65000 bytes was full.\n";
        const size_t second_entry = log.find('\n', log.find('\n', log.find("CODE MESSAGE")) + 1);
        const std::vector<Damage> damages = {
            {"a byte lost", data_file, data.substr(0, text + 1) + data.substr(text + 2),
             "counted by no loss entry"},
            {"text written twice", data_file, data.substr(0, text + 3) + data.substr(text),
             "was not delivered there"},
            {"a block without text", data_file,
             data + marker + "\n" + marker.substr(0, 22) + "EndTime\n", "markers and no text"},
            {"a torn log entry", log_file,
             log.substr(0, second_entry - 9) + log.substr(second_entry + 1), "not a whole entry"},
            {"a log entry lost", log_file,
             log.substr(0, second_entry + 1) + log.substr(log.find('\n', second_entry + 1) + 1),
             "but the engine asked for"},
            {"a loss counted that did not happen", log_file, log + entry_31,
             "bytes lost, but only"},
        };
        for (const Damage& damage : damages) {
            const std::string found = found_after(damage.file, damage.content);
            if (found.find(damage.finding) == std::string::npos) {
                problems.push_back(std::string(damage.what) +
                                   " was not found; the checker said:\n" + found);
            }
        }
    });
    EXPECT_TRUE(outcome.findings.empty()) << Report(schedule, outcome);
    for (const std::string& problem : problems) {
        ADD_FAILURE() << problem << Report(schedule, outcome);
    }
}

// The disk the schedules run on, through the program's own file layer: a
// power cut keeps every synced byte and at most the unsynced ones, in order;
// a dead process changes nothing; a crash of the process alone loses nothing.
TEST(SimulatedDisk, APowerCutKeepsWhatWasSyncedAndNoMoreThanWasWritten) {
    testing_support::TempDir dir;
    std::filesystem::create_directory(dir.File("journal"));
    const std::string journal = dir.File("journal") + "/Port1";
    const std::string data = dir.File("2406110.P01");
    const std::string synced = "header";
    const std::string unsynced = "-record-one-record-two";
    const std::string text = "Thermo\nsome text\n";
    bool lost_some = false;
    bool kept_some = false;
    for (uint64_t seed = 1; seed <= 40; ++seed) {
        std::filesystem::remove(journal);
        std::filesystem::remove(data);
        SimulatedDisk disk(kJournalFile | kDataFile);
        platform::SetFileFaults(&disk);
        FilePlan plan;
        plan.seed = seed;
        plan.power_cut = seed % 4 != 0;  // every fourth: the process alone dies
        disk.BeginLife(plan);
        {
            platform::DurableFile file;
            ASSERT_TRUE(file.Open(journal));
            platform::SyncDirectory(dir.File("journal").c_str());
            ASSERT_TRUE(file.WriteAt(0, synced.data(), synced.size()));
            ASSERT_TRUE(file.Sync());
            ASSERT_TRUE(file.WriteAt(synced.size(), unsynced.data(), unsynced.size()));
            platform::TextPieces bytes({text});
            ASSERT_EQ(platform::AppendToFile(data.c_str(), bytes), platform::kAppendOk);
            disk.DieAtNextOperation();
            EXPECT_FALSE(file.WriteAt(0, "X", 1));  // the process dies here
            EXPECT_FALSE(file.Truncate(0));         // a dead process changes nothing
        }
        ASSERT_TRUE(disk.frozen());
        disk.Recover(false);
        platform::SetFileFaults(nullptr);

        const std::string after = testing_support::ReadFile(journal);
        const std::string whole = synced + unsynced;
        EXPECT_EQ(after.compare(0, synced.size(), synced), 0) << "seed " << seed << ": " << after;
        EXPECT_EQ(whole.compare(0, after.size(), after), 0) << "seed " << seed << ": " << after;
        const std::string appended = testing_support::ReadFile(data);
        EXPECT_EQ(text.compare(0, appended.size(), appended), 0) << "seed " << seed;
        if (!plan.power_cut) {
            EXPECT_EQ(after, whole) << "seed " << seed;
            EXPECT_EQ(appended, text) << "seed " << seed;
        }
        lost_some = lost_some || after.size() < whole.size() || appended.size() < text.size();
        kept_some = kept_some || after.size() > synced.size();
    }
    EXPECT_TRUE(lost_some);  // the power cuts did something,
    EXPECT_TRUE(kept_some);  // and not always the worst
}

// An append that fails is undone durably: whatever a power cut right after
// it keeps, the file is as before the append, and a file it made is gone.
TEST(SimulatedDisk, AFailedAppendStaysUndoneThroughAPowerCut) {
    testing_support::TempDir dir;
    const std::string path = dir.File("2406110.P01");
    const std::string before = "Thermo\nold text\n";
    // The append's second write finds the disk full (operation 3); the
    // process dies right after the append's undo.
    auto fail_then_cut = [&](uint64_t seed) {
        SimulatedDisk disk(kDataFile);
        platform::SetFileFaults(&disk);
        FilePlan plan;
        plan.seed = seed;
        plan.power_cut = true;
        plan.full_from = 3;
        plan.full_to = 4;
        disk.BeginLife(plan);
        platform::AppendOptions options;
        options.sync = true;
        platform::TextPieces bytes({"Thermo\nnew text,", " more"});
        EXPECT_EQ(platform::AppendToFile(path.c_str(), bytes, options),
                  platform::kAppendWriteFailed);
        disk.DieAtNextOperation();
        EXPECT_FALSE(platform::TruncateFile(path.c_str(), 0));  // the process dies here
        EXPECT_TRUE(disk.frozen());
        disk.Recover(false);
        platform::SetFileFaults(nullptr);
    };
    for (uint64_t seed = 1; seed <= 20; ++seed) {
        if (std::filesystem::exists(path)) {
            platform::SetReadOnly(path.c_str(), false);
        }
        testing_support::WriteFile(path, before);
        fail_then_cut(seed);
        EXPECT_EQ(testing_support::ReadFile(path), before) << "seed " << seed;

        platform::RemoveFile(path.c_str());
        fail_then_cut(seed);
        EXPECT_FALSE(std::filesystem::exists(path)) << "seed " << seed;
    }
}

bool ParseOptions(int argc, char** argv) {
    g_options.program = argv[0];
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const std::string& name) {
            return arg.rfind(name, 0) == 0 ? arg.substr(name.size()) : std::string();
        };
        if (!value("--seed=").empty()) {
            g_options.first = g_options.last = std::strtoull(value("--seed=").c_str(), nullptr, 10);
            g_options.show = true;
        } else if (!value("--seeds=").empty()) {
            const std::string range = value("--seeds=");
            const size_t dash = range.find('-');
            g_options.first = std::strtoull(range.substr(0, dash).c_str(), nullptr, 10);
            g_options.last = dash == std::string::npos
                                 ? g_options.first
                                 : std::strtoull(range.substr(dash + 1).c_str(), nullptr, 10);
        } else if (!value("--without=").empty()) {
            uint32_t left_out = 0;
            g_options.without = value("--without=");
            if (!ParseTroubles(g_options.without, left_out)) {
                std::fprintf(stderr, "unknown kind of trouble in %s (known: %s)\n", arg.c_str(),
                             TroubleNames(kEveryTrouble).c_str());
                return false;
            }
            g_options.troubles &= ~left_out;
        } else {
            std::fprintf(stderr, "unknown option %s\n", arg.c_str());
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace simulation

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (!simulation::ParseOptions(argc, argv)) {
        return 2;
    }
    return RUN_ALL_TESTS();
}
