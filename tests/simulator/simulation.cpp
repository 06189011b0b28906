#include "simulation.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>

#include "acquisition/acquisition_thread.h"
#include "acquisition/journal.h"
#include "acquisition/statistics.h"
#include "acquisition/status.h"
#include "checker.h"
#include "config/com_config.h"
#include "log/log_file.h"
#include "log/write_problems.h"
#include "platform/fake_clock.h"
#include "platform/file_faults.h"
#include "random.h"
#include "serial/port.h"
#include "simulated_devices.h"
#include "simulated_disk.h"
#include "support/engine_probe.h"
#include "support/test_config.h"

namespace simulation {
namespace fs = std::filesystem;

namespace {

// Only reached when something is broken: then the schedule fails.
constexpr auto kDeadline = std::chrono::seconds(20);
// Text within this much of a period's end would be read in the next period.
constexpr int64_t kQuietBeforePeriodEndMs = 3000;
// Long enough for any reopening try of a lost port to be due.
constexpr int64_t kReopenWaitMs = 10500;
// Passes after the longest reopening interval in which a returned device
// must be opened again, and how many such intervals it may take.
constexpr int kPassesToReopen = 20;
constexpr int kReopenRounds = 3;
// A line that takes nothing for this long has a reader that pushes back.
constexpr int kFullLineMs = 50;

class Stuck : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What the engine shows the simulator: its passes, its flushes, what each
// port has delivered to it. It can hold the engine still in a pass.
using Probe = engine_testing::Probe;

// The hygrometer's queries, handed to the simulator one at a time: the
// hygrometer's thread waits until the simulator has done what it does while
// the exchange stalls, then lets the clock run out the query's time-out.
class QueryDesk {
public:
    explicit QueryDesk(Probe& probe) : probe_(probe) {}
    // On the hygrometer's thread. The probe is told without this desk's lock
    // held: a wait looks at the desk while it holds the probe's.
    void Arrive() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!handshake_) {
                return;
            }
            pending_ = true;
        }
        probe_.Poke();
        std::unique_lock<std::mutex> lock(mutex_);
        served_.wait(lock, [this] { return !pending_ || !handshake_; });
    }
    bool pending() const { return pending_.load(); }
    void Serve() {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_ = false;
        served_.notify_all();
    }
    // Off while the simulator itself is blocked (stopping the engine).
    void SetHandshake(bool on) {
        std::lock_guard<std::mutex> lock(mutex_);
        handshake_ = on;
        pending_ = pending_ && on;
        served_.notify_all();
    }

private:
    Probe& probe_;
    std::mutex mutex_;
    std::condition_variable served_;
    std::atomic<bool> pending_{false};
    bool handshake_ = true;
};

// Problems the engine reports while the process lives, for the simulation
// that runs (a dead process reports nothing).
std::mutex g_problems_mutex;
std::vector<std::string>* g_problems = nullptr;
SimulatedDisk* g_disk = nullptr;

void RecordProblem(const std::string& problem) {
    std::lock_guard<std::mutex> lock(g_problems_mutex);
    if (g_problems != nullptr && !g_disk->frozen()) {
        g_problems->push_back(problem);
    }
}

std::atomic<int> g_run_counter{0};

// Records of a device: "r<sequence> <word> <number>;", never a line end and
// never a '/', so nothing a device sends can pass for a marker or a line of
// the data file's own.
class TextSource {
public:
    explicit TextSource(uint64_t seed) : random_(seed) {}
    std::string Take(size_t size) {
        while (pending_.size() < size) {
            pending_ += "r" + std::to_string(sequence_++) + " ";
            const int letters = static_cast<int>(random_.Between(3, 9));
            for (int k = 0; k < letters; ++k) {
                pending_ += static_cast<char>('a' + random_.Below(26));
            }
            pending_ += " " + std::to_string(random_.Below(100000)) + ";";
        }
        std::string taken = pending_.substr(0, size);
        pending_.erase(0, size);
        return taken;
    }

private:
    Random random_;
    int64_t sequence_ = 0;
    std::string pending_;
};

// As much of `bytes` as the line takes while its reader keeps up; stops once
// the line stays full (a reader that pushes back).
size_t OfferAll(SimulatedDevice& device, const std::string& bytes) {
    size_t offered = 0;
    while (offered < bytes.size()) {
        const size_t taken = device.Offer(std::string_view(bytes).substr(offered));
        offered += taken;
        if (taken == 0 && !device.WaitWritable(kFullLineMs)) {
            break;
        }
    }
    return offered;
}

struct PortState {
    PortPlan plan;
    std::unique_ptr<SimulatedDevice> device;
    Delivered delivered;
    uint64_t total = 0;            // bytes delivered so far
    uint64_t owed = 0;             // of them, those the engine must account for even after a crash
    uint64_t life_start = 0;       // delivered before this life began
    bool journal_trouble = false;  // this life's engine said it cannot write the journal
    std::string outbox;            // what the line did not take yet
    bool untaken = false;          // sent while the engine stalled, not yet seen taken
    std::unique_ptr<TextSource> text;
};

class Simulation {
public:
    explicit Simulation(const Schedule& schedule);
    ~Simulation();
    Outcome Run(const std::function<void(const Accounts&)>& inspect);

private:
    void SetUp();
    void StartLife(const FilePlan& plan, int number);
    // Ends a life; true when the process died in it.
    bool EndLife();
    void Do(const Step& step);
    bool Dead() { return disk_.frozen(); }
    // No exchange with the hygrometer under way (the clock is the simulator's).
    bool Quiet() const { return !hygrometer_ || !hygrometer_->exchanging(); }

    // Steps.
    bool Reading(int port);
    void Deliver(int port, int64_t amount);
    void Burst(int port, int64_t amount);
    void Idle(int64_t ms);
    void EndPeriod();
    void StepClock(int64_t ms);
    void Vanish(int port);
    void Return(int port);

    // The world.
    void Record(int port, std::string_view bytes);
    void SendOutboxes();
    void WaitTaken(int port);
    void Settle();
    void MoveClock(int64_t ms);
    int64_t Now() const { return clock_.EpochMsNow(); }
    int64_t NextPeriodEnd() const;
    std::vector<uint64_t> Totals() const;
    void MarkOwed(const std::vector<uint64_t>& totals);
    void OnQuery();

    // Waits: each also serves the hygrometer's queries.
    template <typename Condition>
    void Wait(const std::string& what, Condition condition);
    void Passes(int count);
    void Note(const std::string& text);
    void NoteDiskEvents();
    void CollectProblems();

    const Schedule& schedule_;
    std::string root_;
    std::string output_;
    platform::FakeClock clock_;
    platform::ClockScope clock_scope_;
    SimulatedDisk disk_;
    Probe probe_;
    QueryDesk desk_;
    std::vector<PortState> ports_;
    std::unique_ptr<SimulatedDevice> hygrometer_device_;
    std::unique_ptr<SilentHygrometer> hygrometer_;
    Random random_;
    bool configured_ = false;
    bool starting_ = false;  // in the engine's start-up, which drains what arrived before it
    std::vector<std::string> problems_;
    std::vector<std::string> engine_findings_;   // seen while the schedule ran
    long long log_entries_made_before_ = 0;      // by the process, before this schedule
    int64_t log_entries_forgotten_ = 0;          // by the crashes of this schedule
    std::vector<std::string> told_log_entries_;  // the engine's write problems
    Outcome outcome_;
};

Simulation::Simulation(const Schedule& schedule)
    : schedule_(schedule),
      clock_(schedule.start_ms),
      clock_scope_(clock_),
      disk_((schedule.troubles & kUnsyncedLogCut) != 0
                ? kDataFile | kJournalFile | kLogFile | kStatisticsFile | kOtherFile
                : kDataFile | kJournalFile | kOtherFile),
      desk_(probe_),
      random_(schedule.seed ^ 0xA5A5A5A5u) {
    // A directory kept by an earlier process of the same number is not this
    // run's: it gets a name of its own.
    do {
        root_ = WorkDirectory() + "/quorvane-sim-" + std::to_string(::getpid()) + "-" +
                std::to_string(g_run_counter.fetch_add(1));
    } while (fs::exists(root_));
    output_ = root_ + "/out";
}

Simulation::~Simulation() {
    desk_.SetHandshake(false);
    StopAcquisitionThread();
    platform::SetFileFaults(nullptr);
    SetAcquisitionProbe(nullptr);
    SetWriteProblemHandler(nullptr);
    {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        g_problems = nullptr;
        g_disk = nullptr;
    }
    hygrometer_.reset();
    hygrometer_device_.reset();
    ports_.clear();
    if (configured_) {
        FreeComConfig(com);
        com = ComConfig{};
    }
    ForgetUnwrittenLogEntries();
    ForgetKeptStatisticsBlocks();
    if (std::getenv("QUORVANE_SIMULATOR_KEEP") != nullptr) {
        std::fprintf(stderr, "the files of seed %llu are kept in %s\n",
                     static_cast<unsigned long long>(schedule_.seed), root_.c_str());
        return;
    }
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root_, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    }
    fs::remove_all(root_, ec);
}

void Simulation::SetUp() {
    log_entries_made_before_ = LogEntriesMade();
    fs::create_directories(output_);
    fs::create_directories(root_ + "/dev");
    std::vector<testing_support::TestPort> config_ports;
    for (const PortPlan& plan : schedule_.ports) {
        testing_support::TestPort port =
            testing_support::Port(plan.number, "Instrument " + std::to_string(plan.number));
        port.device = root_ + "/dev/com" + std::to_string(plan.number);
        if (plan.statistics) {
            port.WithStats(';');
        }
        if (plan.hygrometer) {
            port.WithAcquisition(INIT_GETOPHIRCONSTANTS);
            if (plan.asked_at_start) {
                port.WithStartup(INIT_GETOPHIRCONSTANTS);
            }
            hygrometer_device_ = std::make_unique<SimulatedDevice>(port.device);
            hygrometer_ = std::make_unique<SilentHygrometer>(
                *hygrometer_device_, clock_, [this] { desk_.Arrive(); }, [this] { probe_.Poke(); });
        } else {
            PortState state;
            state.plan = plan;
            state.device = std::make_unique<SimulatedDevice>(port.device);
            state.delivered.port_number = plan.number;
            state.delivered.instrument = port.instrument;
            state.text = std::make_unique<TextSource>(schedule_.seed * 31 +
                                                      static_cast<uint64_t>(plan.number));
            if (!state.device->ok()) {
                throw Stuck("no pseudo-terminal for COM" + std::to_string(plan.number));
            }
            ports_.push_back(std::move(state));
        }
        config_ports.push_back(port);
    }
    com = testing_support::MakeTestConfig(output_, schedule_.period_minutes, config_ports);
    configured_ = true;
    {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        g_problems = &problems_;
        g_disk = &disk_;
    }
    SetWriteProblemHandler(RecordProblem);
    SetAcquisitionProbe(&probe_);
    platform::SetFileFaults(&disk_);
}

Outcome Simulation::Run(const std::function<void(const Accounts&)>& inspect) {
    try {
        SetUp();
        int number = 0;
        for (const Life& life : schedule_.lives) {
            StartLife(life.files, ++number);
            for (const Step& step : life.steps) {
                if (Dead()) {
                    break;
                }
                Do(step);
            }
            EndLife();
        }
        StartLife(FilePlan{}, ++number);  // recovers what the others left
        EndLife();
    } catch (const Stuck& stuck) {
        outcome_.findings.push_back(std::string("the simulation could not go on: ") + stuck.what());
        return outcome_;
    }
    platform::SetFileFaults(nullptr);
    Accounts accounts;
    accounts.directory = output_;
    accounts.log_entries_attempted = LogEntriesMade() - log_entries_made_before_;
    accounts.log_entries_forgotten = log_entries_forgotten_;
    accounts.told_log_entries = told_log_entries_;
    accounts.files_crashes_caught = disk_.died_on();
    for (const PortState& port : ports_) {
        accounts.ports.push_back(port.delivered);
    }
    outcome_.findings = engine_findings_;
    for (const std::string& finding : CheckAccounts(accounts)) {
        outcome_.findings.push_back(finding);
    }
    if (inspect) {
        inspect(accounts);
    }
    return outcome_;
}

void Simulation::StartLife(const FilePlan& plan, int number) {
    // Unless crashes in the start-up are asked for, the crash is counted from
    // the first pass on.
    const bool at_start = (schedule_.troubles & kCrashInRecovery) != 0;
    FilePlan start_plan = plan;
    if (!at_start) {
        start_plan.crash_at = 0;
    }
    disk_.BeginLife(start_plan);
    probe_.Reset();
    ResetStatusTexts();
    for (PortState& port : ports_) {
        port.life_start = port.total;
        port.journal_trouble = false;
    }
    Note("life " + std::to_string(number) + " starts");
    if (std::getenv("QUORVANE_SIMULATOR_KEEP") != nullptr) {
        std::error_code ec;  // what each life found, for a closer look
        fs::copy(output_, root_ + "/before-life-" + std::to_string(number),
                 fs::copy_options::recursive, ec);
    }
    desk_.SetHandshake(true);
    if (!StartAcquisitionThread(nullptr)) {
        throw Stuck("the acquisition thread did not start");
    }
    starting_ = true;
    Wait("the first pass", [&] { return probe_.passes_locked() >= 1 && Quiet(); });
    starting_ = false;
    if (!at_start && !Dead()) {
        disk_.DieAfter(plan.crash_at);
    }
    NoteDiskEvents();
}

bool Simulation::EndLife() {
    desk_.SetHandshake(false);  // the stop blocks this thread: the hygrometer runs on alone
    StopAcquisitionThread();
    Wait("the hygrometer's exchange to end", [&] { return Quiet(); });
    CollectProblems();
    const bool died = Dead();
    NoteDiskEvents();
    if (!died) {
        for (PortState& port : ports_) {
            port.owed = port.total;
        }
        Note("stopped");
        return false;
    }
    for (PortState& port : ports_) {
        const uint64_t from =
            port.journal_trouble ? std::min(port.owed, port.life_start) : port.owed;
        if (port.total > from) {
            port.delivered.at_risk.push_back({from, port.total});
            Note("COM" + std::to_string(port.plan.number) + ": bytes " + std::to_string(from) +
                 " to " + std::to_string(port.total) + " were in memory only" +
                 (port.journal_trouble ? " (its journal could not be written)" : ""));
        }
        port.owed = port.total;
    }
    // What the end of the process clears.
    log_entries_forgotten_ += static_cast<int64_t>(ForgetUnwrittenLogEntries());
    log_entries_forgotten_ += disk_.died_making_log_entries();
    ForgetKeptStatisticsBlocks();
    Note("the process died; " + disk_.Recover((schedule_.troubles & kLatePowerCut) != 0));
    return true;
}

void Simulation::Do(const Step& step) {
    switch (step.kind) {
        case StepKind::kDeliver:
            Deliver(step.port, step.amount);
            break;
        case StepKind::kBurst:
            Burst(step.port, step.amount);
            break;
        case StepKind::kIdle:
            Idle(step.amount);
            break;
        case StepKind::kEndPeriod:
            EndPeriod();
            break;
        case StepKind::kClockStep:
            StepClock(step.amount);
            break;
        case StepKind::kVanish:
            Vanish(step.port);
            break;
        case StepKind::kReturn:
            Return(step.port);
            break;
    }
    CollectProblems();
    NoteDiskEvents();
}

int64_t Simulation::NextPeriodEnd() const {
    const int64_t period = int64_t{schedule_.period_minutes} * 60000;
    const int64_t now = Now();
    const int64_t floor = now >= 0 ? now / period : (now - period + 1) / period;
    return (floor + 1) * period;
}

void Simulation::MoveClock(int64_t ms) {
    clock_.SetEpochMs(Now() + ms);
}

// Room for text and its settling before the period ends, or the period ends first.
// A device sends only while the engine has its port open: otherwise its text
// would wait on the line for a later period.
bool Simulation::Reading(int port) {
    PortState& state = ports_[static_cast<size_t>(port)];
    if (!state.device->present()) {
        return false;
    }
    Passes(1);
    if (probe_.received(port) < 0) {
        Note("COM" + std::to_string(state.plan.number) + " is not open: its device waits");
        return false;
    }
    return true;
}

void Simulation::Deliver(int port, int64_t amount) {
    PortState& state = ports_[static_cast<size_t>(port)];
    if (!Reading(port)) {
        return;
    }
    if (Now() + kQuietBeforePeriodEndMs >= NextPeriodEnd()) {
        EndPeriod();
    }
    const std::string bytes = state.text->Take(static_cast<size_t>(amount));
    Note("COM" + std::to_string(state.plan.number) + " sends " + std::to_string(amount) + " bytes");
    if (!state.device->Send(bytes)) {
        throw Stuck("COM" + std::to_string(state.plan.number) + " could not send");
    }
    Record(port, bytes);
    WaitTaken(port);
    Settle();
}

// More than the receive queue holds, while the engine stands still.
void Simulation::Burst(int port, int64_t amount) {
    PortState& state = ports_[static_cast<size_t>(port)];
    if (!Reading(port)) {
        return;
    }
    if (Now() + kQuietBeforePeriodEndMs >= NextPeriodEnd()) {
        EndPeriod();
    }
    std::string bytes = state.text->Take(static_cast<size_t>(amount));
    probe_.Hold();
    PortWakeWaiters();
    Wait("the engine held", [&] { return probe_.held_locked(); });
    const size_t offered = OfferAll(*state.device, bytes);
    Record(port, bytes.substr(0, offered));
    probe_.Release();
    Note("COM" + std::to_string(state.plan.number) + " bursts " + std::to_string(amount) +
         " bytes, " + std::to_string(offered) + " of them while the engine stood still");
    state.outbox = bytes.substr(offered);
    SendOutboxes();
    WaitTaken(port);
    Settle();
}

void Simulation::Idle(int64_t ms) {
    const int64_t target = std::min(Now() + ms, NextPeriodEnd() - 1);
    if (target > Now()) {
        MoveClock(target - Now());
        Passes(2);
    }
}

void Simulation::EndPeriod() {
    const std::vector<uint64_t> totals = Totals();
    // A pass tells the probe before it flushes a period it found over: one
    // more pass first, so that a flush still under way (a period that ended
    // during the exchange at the start, say) is not taken for this one.
    Passes(1);
    const int flushes = probe_.flushes();
    const int64_t end = NextPeriodEnd();
    Note("period ends at " + TimeText(end));
    clock_.SetEpochMs(end);
    Wait("the flush at " + TimeText(end),
         [&] { return probe_.flushes_locked() > flushes && Quiet(); });
    SendOutboxes();
    MarkOwed(totals);
}

void Simulation::StepClock(int64_t ms) {
    const std::vector<uint64_t> totals = Totals();
    Passes(1);  // as in EndPeriod
    const int flushes = probe_.flushes();
    Note("the clock is set to " + TimeText(Now() + ms));
    clock_.StepCalendarMs(ms);  // no time passes: the machine's tick counter stays
    Wait("the flush of the clock step",
         [&] { return probe_.flushes_locked() > flushes && Quiet(); });
    Passes(1);  // the new schedule is made after the flush, from the clock as it is then
    SendOutboxes();
    MarkOwed(totals);
}

void Simulation::Vanish(int port) {
    PortState& state = ports_[static_cast<size_t>(port)];
    if (!state.device->present()) {
        return;
    }
    // What is still on the line was never received: a device made to wait
    // that is unplugged takes it along, and no logger can account for it.
    const uint64_t unread = state.device->Unread();
    if (unread > 0) {
        state.delivered.at_risk.push_back({state.total - unread, state.total});
    }
    Note("COM" + std::to_string(state.plan.number) + " goes away" +
         (unread > 0 ? ", with " + std::to_string(unread) + " bytes still on its line" : ""));
    state.device->Vanish();
    Wait("the engine to see COM" + std::to_string(state.plan.number) + " gone", [&] {
        PortWakeWaiters();
        return probe_.received_locked(port) < 0;
    });
}

void Simulation::Return(int port) {
    PortState& state = ports_[static_cast<size_t>(port)];
    if (state.device->present()) {
        return;
    }
    if (Now() + kReopenRounds * kReopenWaitMs + kQuietBeforePeriodEndMs >= NextPeriodEnd()) {
        EndPeriod();
    }
    Note("COM" + std::to_string(state.plan.number) + " comes back");
    state.device->Return();
    if (!state.device->ok()) {
        throw Stuck("no pseudo-terminal for COM" + std::to_string(state.plan.number));
    }
    // A try may fail while the machine is busy; the next comes within the
    // longest interval.
    const int64_t back = Now();
    for (int round = 0; round < kReopenRounds; ++round) {
        MoveClock(kReopenWaitMs);
        for (int pass = 0; pass < kPassesToReopen; ++pass) {
            Passes(1);
            if (probe_.received(port) >= 0) {
                return;
            }
        }
    }
    const std::string finding =
        "COM" + std::to_string(state.plan.number) + "'s device came back at " + TimeText(back) +
        ", but the port was not opened again " + std::to_string(Now() - back) + " ms later";
    Note(finding);
    engine_findings_.push_back(finding);
}

void Simulation::Record(int port, std::string_view bytes) {
    if (bytes.empty()) {
        return;
    }
    PortState& state = ports_[static_cast<size_t>(port)];
    DeliveredPiece piece;
    piece.offset = state.total;
    piece.time_ms = Now();
    piece.bytes.assign(bytes);
    state.total += bytes.size();
    state.delivered.pieces.push_back(std::move(piece));
}

// What devices kept while their lines were full goes out now, and what they
// sent while the engine stalled is seen taken.
void Simulation::SendOutboxes() {
    for (size_t p = 0; p < ports_.size(); ++p) {
        PortState& state = ports_[p];
        if (!state.outbox.empty()) {
            const std::string bytes = std::move(state.outbox);
            state.outbox.clear();
            if (!state.device->Send(bytes)) {
                throw Stuck("COM" + std::to_string(state.plan.number) + " could not send");
            }
            Record(static_cast<int>(p), bytes);
            state.untaken = true;
        }
        if (state.untaken) {
            state.untaken = false;
            WaitTaken(static_cast<int>(p));
        }
    }
}

// Until the line has nothing left for the logger, the engine has every byte
// of it, and it has made two whole passes since.
void Simulation::WaitTaken(int port) {
    PortState& state = ports_[static_cast<size_t>(port)];
    Wait("COM" + std::to_string(state.plan.number) + "'s text to be taken", [&] {
        PortWakeWaiters();
        return state.device->Unread() == 0;
    });
    // An empty line is not yet an engine with every byte: the last of them
    // may still wait in the port's receive queue for a pass. A pty loses
    // nothing on the way in, so they are waited for, unless the port closed.
    const uint64_t expected = state.total - state.life_start;
    Wait("COM" + std::to_string(state.plan.number) + "'s text to reach the engine", [&] {
        PortWakeWaiters();
        const int64_t received = probe_.received_locked(port);
        return received < 0 || static_cast<uint64_t>(received) >= expected;
    });
    Passes(2);
}

// Two seconds in two steps, each followed by a whole pass: less than a block
// is read within a second of its arrival, and the journal reaches the disk
// within a second of a write.
void Simulation::Settle() {
    const std::vector<uint64_t> totals = Totals();
    for (int step = 0; step < 2; ++step) {
        MoveClock(1000);
        Passes(2);
    }
    MarkOwed(totals);
}

std::vector<uint64_t> Simulation::Totals() const {
    std::vector<uint64_t> totals;
    for (const PortState& port : ports_) {
        totals.push_back(port.total);
    }
    return totals;
}

// What was delivered up to `totals` is durable now, unless the process has died.
void Simulation::MarkOwed(const std::vector<uint64_t>& totals) {
    if (Dead()) {
        return;
    }
    for (size_t p = 0; p < ports_.size(); ++p) {
        ports_[p].owed = std::max(ports_[p].owed, totals[p]);
    }
}

void Simulation::Passes(int count) {
    for (int k = 0; k < count; ++k) {
        const int64_t passes = probe_.passes();
        PortWakeWaiters();
        Wait("a pass", [&] { return probe_.passes_locked() > passes; });
    }
}

template <typename Condition>
void Simulation::Wait(const std::string& what, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + kDeadline;
    for (;;) {
        bool query = false;
        const bool met = probe_.WaitFor(
            [&] {
                query = desk_.pending();
                return query || condition();
            },
            kDeadline);
        if (query) {
            OnQuery();
            continue;
        }
        if (met) {
            return;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            throw Stuck("waited in vain for " + what + " at " + TimeText(Now()) + " (" +
                        std::to_string(probe_.passes()) + " passes, " +
                        std::to_string(probe_.flushes()) + " flushes in this life)");
        }
    }
}

// The hourly exchange stalls on a silent hygrometer: meanwhile a device may
// send more than its receive queue holds; what its line does not take stays
// with the device until the exchange is over.
void Simulation::OnQuery() {
    Note("the hygrometer does not answer");
    if (!starting_ && (schedule_.troubles & kStall) != 0 && random_.Percent(60)) {
        const int port = static_cast<int>(random_.Below(ports_.size()));
        PortState& state = ports_[static_cast<size_t>(port)];
        const int64_t before = probe_.received(port);
        if (state.device->present() && before >= 0) {
            const int64_t amount =
                random_.Percent(50) ? random_.Between(1, 3000) : random_.Between(20000, 80000);
            std::string bytes = state.text->Take(static_cast<size_t>(amount));
            const size_t offered = OfferAll(*state.device, bytes);
            Record(port, bytes.substr(0, offered));
            state.outbox += bytes.substr(offered);
            state.untaken = true;
            Note("COM" + std::to_string(state.plan.number) + " sends " + std::to_string(amount) +
                 " bytes meanwhile, " + std::to_string(offered) + " taken by its line now");
            // The engine reads the other ports while the exchange waits; the
            // clock runs on only once it has (a real clock would not stand
            // still for it): the text is received in the hour it was sent.
            if (state.outbox.empty() && !probe_.WaitFor(
                                            [&] {
                                                return probe_.received_locked(port) >=
                                                       before + static_cast<int64_t>(offered);
                                            },
                                            kDeadline)) {
                throw Stuck("COM" + std::to_string(state.plan.number) +
                            "'s text sent while an exchange waited was not read");
            }
        }
    }
    desk_.Serve();
}

void Simulation::Note(const std::string& text) {
    outcome_.trace.push_back(TimeText(Now()) + "  " + text);
}

void Simulation::NoteDiskEvents() {
    for (const std::string& event : disk_.TakeEvents()) {
        outcome_.trace.push_back("                        disk: " + event);
    }
}

// A journal the engine says it cannot write leaves the port's text of this
// life in memory only (announced, so a crash may lose it).
void Simulation::CollectProblems() {
    std::vector<std::string> problems;
    {
        std::lock_guard<std::mutex> lock(g_problems_mutex);
        problems.swap(problems_);
    }
    for (const std::string& problem : problems) {
        told_log_entries_.push_back(problem);
        if (problem.find("cannot write the journal") == std::string::npos) {
            continue;
        }
        for (PortState& port : ports_) {
            const std::string journal = JournalPath(output_.c_str(), port.plan.number);
            if (problem.find(journal + ";") != std::string::npos ||
                problem.find(journal + " ") != std::string::npos) {
                port.journal_trouble = true;
            }
        }
    }
}

}  // namespace

Outcome RunSchedule(const Schedule& schedule, const std::function<void(const Accounts&)>& inspect) {
    Simulation simulation(schedule);
    return simulation.Run(inspect);
}

std::string WorkDirectory() {
    std::error_code ec;
    if (::access("/dev/shm", W_OK) == 0 && fs::is_directory("/dev/shm", ec)) {
        return "/dev/shm";
    }
    return fs::temp_directory_path().string();
}

}  // namespace simulation
