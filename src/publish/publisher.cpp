#include "publish/publisher.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <condition_variable>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>
#include <variant>

#include "acquisition/journal.h"
#include "acquisition/journal_follower.h"
#include "acquisition/statistics.h"
#include "log/log_codes.h"
#include "log/log_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/process.h"
#include "platform/replace_file.h"
#include "publish/messages.h"
#include "publish/mqtt_link.h"
#include "publish/publish_target.h"
#include "publish/record_cutter.h"

namespace publish {
namespace {

using SteadyClock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr size_t kLookBytes = size_t{4} << 20;  // read from one journal at a time
constexpr size_t kWindow = 256;                 // messages handed over, not yet taken
constexpr size_t kOutboxLoad = 256;             // outbox lines read into memory at a time
constexpr size_t kMostSideMessages = 10000;     // log entries and statistics rows waiting
constexpr milliseconds kIdleWait{100};
// A journal that grows is looked at this often: the records of several
// appends go together, and a wait for the broker's answers lasts this long.
constexpr milliseconds kLookInterval{10};
constexpr milliseconds kSaveInterval{1000};
constexpr milliseconds kUnchangedLook{1000};  // a journal whose feed shows nothing new
constexpr milliseconds kFirstPause{1000};
constexpr char kOfflinePayload[] = "{\"online\":false}";

int64_t NowUtcMs() {
    const platform::SystemTime now = platform::UtcNow();
    return platform::ToCalendarSeconds(now) * 1000 + now.wMilliseconds;
}

// The bytes of one string, appended as they are (no line-end translation).
class BytesSource final : public platform::AppendSource {
public:
    explicit BytesSource(std::string_view bytes) : bytes_(bytes) {}
    void Rewind() override { given_ = false; }
    std::string_view Next() override {
        if (given_) {
            return {};
        }
        given_ = true;
        return bytes_;
    }

private:
    std::string_view bytes_;
    bool given_ = false;
};

// Where a port's publishing stands on disk: "QVP1 epoch offset skip seq done".
struct SavedState {
    journal::Place place;
    int64_t next_seq = 1;
    uint64_t outbox_done = 0;
};

std::optional<SavedState> ReadSavedState(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string format;
    SavedState state;
    if (!(in >> format >> state.place.epoch >> state.place.offset >> state.place.skip >>
          state.next_seq >> state.outbox_done) ||
        format != "QVP1" || state.next_seq < 1) {
        return std::nullopt;
    }
    return state;
}

std::string SavedStateText(const SavedState& state) {
    std::ostringstream text;
    text << "QVP1 " << state.place.epoch << ' ' << state.place.offset << ' ' << state.place.skip
         << ' ' << state.next_seq << ' ' << state.outbox_done << '\n';
    return text.str();
}

// A message waiting for the broker.
struct Waiting {
    int64_t seq = 0;
    std::string payload;
    journal::Place place;     // made from the journal: where it begins there
    uint64_t outbox_end = 0;  // read from the outbox: where its line ends there
    bool sent = false;
    bool taken = false;
};

struct PortPublisher {
    PublishedPort port;
    std::string topic;
    std::string state_path;
    std::string outbox_path;
    std::string journal_path;
    journal::JournalFollower follower;
    RecordCutter cutter;
    // Oldest first: what the outbox file holds, then what memory holds.
    std::deque<Waiting> from_outbox;
    uint64_t outbox_read = 0;    // the next line to read from the file
    uint64_t outbox_done = 0;    // everything before it has been taken
    uint64_t outbox_length = 0;  // what the file holds
    std::deque<Waiting> fresh;
    size_t fresh_bytes = 0;
    // The feed's position of the next text (see JournalFeed), and the text
    // the disk refused to the journal that has been told.
    uint64_t consumed = 0;
    uint64_t refused_told = 0;
    uint64_t feed_seen = UINT64_MAX;
    SteadyClock::time_point looked{};
    bool state_changed = true;
    SavedState saved;

    PortPublisher(const PublishedPort& published, const std::string& prefix,
                  const std::string& directory)
        : port(published),
          topic(prefix + "/COM" + std::to_string(published.number) + "/text"),
          state_path(platform::JoinPath(platform::JoinPath(directory, kPublishFolder),
                                        "Port" + std::to_string(published.number))),
          outbox_path(state_path + ".outbox"),
          journal_path(JournalPath(directory.c_str(), published.number)),
          follower(journal_path),
          cutter(published.terminator, 1) {}

    size_t waiting() const { return from_outbox.size() + fresh.size(); }
    SavedState CurrentState() const {
        SavedState state;
        state.place = fresh.empty() ? cutter.next_place() : fresh.front().place;
        state.next_seq = fresh.empty() ? cutter.next_seq() : fresh.front().seq;
        state.outbox_done = outbox_done;
        return state;
    }
};

// What other threads hand the publisher: the status text, log entries and
// statistics rows. Shared with the log's and the statistics' observer slots,
// so that a late call after the publisher has gone finds it still there.
class Inbox final : public LogEntryObserver, public StatisticsRowObserver {
public:
    Inbox(std::string directory, std::string prefix)
        : directory_(std::move(directory)), prefix_(std::move(prefix)) {}

    void OnLogEntry(const char* directory, const platform::SystemTime& stamp,
                    const char* message) override {
        if (directory == nullptr || directory_ != directory) {
            return;
        }
        const int64_t ms = platform::ToCalendarSeconds(stamp) * 1000 + stamp.wMilliseconds;
        Add(prefix_ + "/log", LogEntryPayload(ms, message));
    }

    void OnStatisticsRow(const StatisticsRowReport& row) override {
        Add(prefix_ + "/COM" + std::to_string(row.port_number) + "/statistics",
            StatisticsRowPayload(row));
    }

    // Something new waits in a journal.
    void Wake() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            woken_ = true;
        }
        wake_.notify_all();
    }

    void TakeStatus(const std::string& text) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            status_ = text;
            status_changed_ = true;
        }
        wake_.notify_all();
    }

    struct Message {
        std::string topic;
        std::string payload;
    };
    // The status when it changed since the last call (or `again`), and the
    // side messages waiting.
    void Take(bool again, std::optional<std::string>& status, std::deque<Message>& side) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if ((status_changed_ || again) && !status_.empty()) {
            status = status_;
        }
        status_changed_ = false;
        for (Message& message : side_) {
            side.push_back(std::move(message));
        }
        side_.clear();
    }

    // Waits up to `timeout` for something new, or for Stop.
    void Wait(milliseconds timeout) {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, timeout,
                       [&] { return stop_ || woken_ || status_changed_ || !side_.empty(); });
        woken_ = false;
    }
    void Stop() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
    }
    bool Stopping() const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return stop_;
    }

private:
    void Add(std::string topic, std::string payload) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            // While the broker is away the newest wait; the log and the
            // statistics files hold the older ones all the same.
            if (side_.size() >= kMostSideMessages) {
                side_.pop_front();
            }
            side_.push_back({std::move(topic), std::move(payload)});
        }
        wake_.notify_all();
    }

    const std::string directory_;
    const std::string prefix_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::string status_;
    bool status_changed_ = false;
    std::deque<Message> side_;
    bool stop_ = false;
    bool woken_ = false;
};

}  // namespace

std::string PublishingSupportLine() {
    return "Publishing to MQTT brokers: " + MqttLink::LibraryText();
}

PublisherSettings PublisherSettingsOf(const ComConfig& config) {
    PublisherSettings settings;
    settings.directory = config.OutputDriveAndPath != nullptr ? config.OutputDriveAndPath : "";
    settings.publish_to = config.PublishTo;
    settings.credentials_file = config.PublishCredentialsFile;
    for (int p = 0; p < config.NumPorts; ++p) {
        settings.ports.push_back({config.PortNumber[p], config.StringTerminationCharacter[p]});
    }
    return settings;
}

struct Publisher::Inner {
    PublisherSettings settings;
    PublishTarget target;
    std::string target_problem;  // the address cannot be used
    std::shared_ptr<Inbox> inbox;
    std::vector<std::unique_ptr<PortPublisher>> ports;
    std::unique_ptr<MqttLink> link;
    std::thread thread;
    bool started = false;

    // The connection.
    bool connecting = false;
    SteadyClock::time_point next_attempt{};
    milliseconds pause = kFirstPause;
    std::string problem_told;  // the latest entry 46, until entry 47
    bool ever_worked = false;
    struct InFlight {
        size_t port;  // ports.size(): a side message (seq: its number), or the status (seq -1)
        int64_t seq;
    };
    std::map<int, InFlight> in_flight;
    // Log entries and statistics rows, oldest first, each with a number of
    // its own while it waits.
    struct SideMessage {
        int64_t number = 0;
        Inbox::Message message;
        bool sent = false;
        bool taken = false;
    };
    std::deque<SideMessage> side;
    int64_t side_numbers = 0;
    std::optional<std::string> status;  // to be sent
    bool status_again = false;          // the page as it stands, after a new connection
    SteadyClock::time_point saved_at{};

    mutable std::mutex health_mutex;
    PublishingHealth health;
    std::function<void(const PublishingHealth&)> health_observer;

    void Log(const char* format, ...) __attribute__((format(printf, 2, 3)));

    // ---- The journals.
    void PrepareStart();
    bool LookAtJournals(bool every);
    void LookAt(PortPublisher& port, bool all);
    void AfterCut(PortPublisher& port, const journal::JournalFollower::Look& look);
    bool FeedKnowsEpoch(const PortPublisher& port, uint32_t epoch) const;
    void Keep(PortPublisher& port, std::vector<TextRecord>& records);
    bool Spill(PortPublisher& port);
    void TellMissed(PortPublisher& port, uint64_t missed, const char* why);
    void TakeFromFeed(PortPublisher& port, uint64_t to);
    void SaveStates(bool now);

    // ---- The broker.
    void ConnectIfDue();
    void Failed(std::string reason);
    bool SendWhatCan();
    bool Send(const std::string& topic, const std::string& payload, bool retain,
              InFlight flight);
    void Taken(int id);
    void LoadOutbox(PortPublisher& port);
    void ForgetOutboxIfDone(PortPublisher& port);
    void ConnectionLost();
    bool AllTaken() const;
    void SetHealth(bool connected, const std::string& problem);

    void Run();
    void Connected();
    milliseconds NextLookDue() const;
    void Finish(SteadyClock::time_point deadline);
};

void Publisher::Inner::Log(const char* format, ...) {
    char message[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(message, sizeof message, format, args);
    va_end(args);
    WriteLogMessage(settings.directory.c_str(), message);
}

// ---- The journals -----------------------------------------------------------

void Publisher::Inner::PrepareStart() {
    std::error_code ec;
    std::filesystem::create_directories(
        platform::JoinPath(settings.directory, kPublishFolder), ec);
    for (const PublishedPort& published : settings.ports) {
        auto port = std::make_unique<PortPublisher>(published, target.prefix, settings.directory);
        if (const std::optional<SavedState> saved = ReadSavedState(port->state_path)) {
            port->saved = *saved;
            port->cutter = RecordCutter(published.terminator, saved->next_seq);
            port->follower.StartAt(saved->place);
            // An outbox shorter than what was taken of it was removed once all
            // of it had been taken (the state did not follow before a crash).
            const int64_t outbox = platform::FileLength(port->outbox_path.c_str());
            const uint64_t done =
                outbox >= 0 && static_cast<uint64_t>(outbox) >= saved->outbox_done
                    ? saved->outbox_done
                    : 0;
            port->outbox_read = port->outbox_done = done;
            port->outbox_length = outbox > 0 ? static_cast<uint64_t>(outbox) : 0;
        } else {
            // Never published: what the journal holds has not been either.
            port->follower.StartAtBeginning();
        }
        // What this process's journals took before now is not this run's to miss.
        FollowJournalFeed(port->journal_path, true);
        const JournalFeed feed = ReadJournalFeed(port->journal_path);
        port->consumed = feed.text_total;
        port->refused_told = feed.refused_total;
        ports.push_back(std::move(port));
    }
    // What an earlier run left in the journals is read now, before
    // acquisition starts and writes it away.
    for (auto& port : ports) {
        const uint64_t consumed = port->consumed;
        LookAt(*port, true);
        port->consumed = consumed;
    }
}

bool Publisher::Inner::LookAtJournals(bool every) {
    bool read = false;
    const SteadyClock::time_point now = SteadyClock::now();
    for (auto& port : ports) {
        const JournalFeed feed = ReadJournalFeed(port->journal_path);
        const bool changed = feed.text_total != port->feed_seen;
        if (!every && (now - port->looked < (changed ? kLookInterval : kUnchangedLook))) {
            continue;
        }
        const size_t before = port->waiting();
        LookAt(*port, every);
        read = read || port->waiting() != before;
    }
    return read;
}

void Publisher::Inner::LookAt(PortPublisher& port, bool all) {
    port.looked = SteadyClock::now();
    port.feed_seen = ReadJournalFeed(port.journal_path).text_total;
    std::vector<TextRecord> records;
    for (;;) {
        const journal::JournalFollower::Look look = port.follower.Next(kLookBytes);
        if (look.first && !FeedKnowsEpoch(port, look.cut_place.epoch)) {
            // The file was seen first while the logger cut it: its epoch is
            // already an old one. Looked at again once it shows the new one.
            port.follower.StartAtBeginning();
            break;
        }
        // A file first seen after cuts is as a cut: what the earlier epochs
        // held since the start is taken from the feed.
        if (look.cut || look.first) {
            AfterCut(port, look);
        }
        for (const journal::FollowedText& text : look.texts) {
            port.cutter.Add(text, records);
            port.consumed += text.bytes.size();
        }
        Keep(port, records);
        records.clear();
        if (look.bytes < kLookBytes || !all) {
            break;
        }
    }
    port.cutter.EndIfWaited(NowUtcMs(), records);
    Keep(port, records);
}

// True when the journal's feed tells of `epoch`, or of none (this process's
// logger has not made the file: an earlier run left it).
bool Publisher::Inner::FeedKnowsEpoch(const PortPublisher& port, uint32_t epoch) const {
    const uint32_t known = ReadJournalFeed(port.journal_path).epoch;
    return known == 0 || known == epoch;
}

void Publisher::Inner::AfterCut(PortPublisher& port,
                                const journal::JournalFollower::Look& look) {
    // What the old epoch held after the last look: from the feed's copy.
    const JournalFeed feed = ReadJournalFeed(port.journal_path);
    if (feed.epoch == look.cut_place.epoch) {
        TakeFromFeed(port, feed.text_before_epoch);
    }
    std::vector<TextRecord> records;
    port.cutter.AfterCut(look.cut_place, records);
    Keep(port, records);
    // The records made under the old epoch cannot be read from the journal
    // again: they wait in the outbox file (or, if it refuses them, in memory).
    if (!port.fresh.empty()) {
        Spill(port);
    }
    port.state_changed = true;
    SaveStates(true);
}

// Takes the text up to feed position `to` that the follower did not read
// from the file, from the feed's copy of the latest text; what the copy no
// longer holds, and what the disk refused to the journal, is told (entry 45).
void Publisher::Inner::TakeFromFeed(PortPublisher& port, uint64_t to) {
    if (to > port.consumed) {
        std::vector<FeedText> pieces;
        if (ReadJournalFeedText(port.journal_path, port.consumed, to, pieces)) {
            // Their records go to the outbox at once (the old epoch's), so
            // their places in the journal are never read again.
            std::vector<TextRecord> records;
            const journal::Place after = port.cutter.next_place();
            for (FeedText& piece : pieces) {
                port.cutter.Add({after, piece.received_ms, std::move(piece.bytes)}, records);
            }
            Keep(port, records);
        } else {
            TellMissed(port, to - port.consumed,
                       "the journal no longer held it when it was to be read");
        }
        port.consumed = to;
    }
    const JournalFeed feed = ReadJournalFeed(port.journal_path);
    if (feed.refused_total > port.refused_told) {
        TellMissed(port, feed.refused_total - port.refused_told,
                   "the disk refused it to the journal (the data files hold it)");
        port.refused_told = feed.refused_total;
    }
}

void Publisher::Inner::TellMissed(PortPublisher& port, uint64_t missed, const char* why) {
    const std::string amount = std::to_string(missed) + (missed == 1 ? " byte" : " bytes");
    Log(logmsg::k45NotPublished, amount.c_str(), port.port.number, why);
}

void Publisher::Inner::Keep(PortPublisher& port, std::vector<TextRecord>& records) {
    for (TextRecord& record : records) {
        Waiting waiting;
        waiting.seq = record.seq;
        waiting.payload = RecordPayload(record.seq, record.received_ms, record.text);
        waiting.place = record.place;
        port.fresh_bytes += waiting.payload.size();
        port.fresh.push_back(std::move(waiting));
        port.state_changed = true;
    }
    const size_t share = settings.memory_limit / std::max<size_t>(ports.size(), 1);
    if (port.fresh_bytes > share) {
        Spill(port);
    }
}

// Moves the records memory holds to the end of the outbox file ("seq payload"
// lines), durably; false when the file refused them (memory keeps them).
bool Publisher::Inner::Spill(PortPublisher& port) {
    std::string lines;
    for (const Waiting& waiting : port.fresh) {
        lines += std::to_string(waiting.seq);
        lines += ' ';
        lines += waiting.payload;
        lines += '\n';
    }
    BytesSource source(lines);
    platform::AppendOptions options;
    options.sync = true;
    if (platform::AppendToFile(port.outbox_path.c_str(), source, options) != platform::kAppendOk) {
        return false;
    }
    port.outbox_length += lines.size();
    // What was handed over is sent again from the outbox; the broker may see
    // it twice, with the same numbers.
    for (auto it = in_flight.begin(); it != in_flight.end();) {
        const bool fresh = it->second.port < ports.size() &&
                           ports[it->second.port].get() == &port &&
                           std::any_of(port.fresh.begin(), port.fresh.end(),
                                       [&](const Waiting& w) { return w.seq == it->second.seq; });
        it = fresh ? in_flight.erase(it) : std::next(it);
    }
    port.fresh.clear();
    port.fresh_bytes = 0;
    port.state_changed = true;
    SaveStates(true);
    return true;
}

void Publisher::Inner::SaveStates(bool now) {
    const SteadyClock::time_point time = SteadyClock::now();
    if (!now && time - saved_at < kSaveInterval) {
        return;
    }
    saved_at = time;
    for (auto& port : ports) {
        const SavedState state = port->CurrentState();
        if (!port->state_changed && state.place == port->saved.place &&
            state.next_seq == port->saved.next_seq && state.outbox_done == port->saved.outbox_done) {
            continue;
        }
        if (platform::ReplaceFileContent(port->state_path, SavedStateText(state))) {
            port->saved = state;
            port->state_changed = false;
        }
    }
}

// ---- The broker -------------------------------------------------------------

void Publisher::Inner::SetHealth(bool connected, const std::string& problem) {
    int64_t waiting = 0;
    for (const auto& port : ports) {
        waiting += static_cast<int64_t>(port->waiting());
    }
    const std::string where = target_problem.empty() ? target.Url() : settings.publish_to;
    PublishingHealth told;
    {
        const std::lock_guard<std::mutex> lock(health_mutex);
        health.connected = connected;
        health.problem = problem;
        health.text = where + (problem.empty() ? " works" : " fails: " + problem);
        health.records_waiting = waiting;
        told = health;
    }
    if (health_observer) {
        health_observer(told);
    }
}

void Publisher::Inner::Failed(std::string reason) {
    // The library's sentences end in a full stop; the entry has its own.
    while (!reason.empty() && reason.back() == '.') {
        reason.pop_back();
    }
    connecting = false;
    ConnectionLost();
    if (reason != problem_told) {
        Log(logmsg::k46PublishingFails, target.Url().c_str(),
            (reason + "; tried again, less often each time").c_str());
        problem_told = reason;
    }
    SetHealth(false, reason);
    next_attempt = SteadyClock::now() + pause;
    pause = std::min(pause * 2, settings.longest_pause);
}

void Publisher::Inner::ConnectIfDue() {
    if (link->Connected() || connecting || SteadyClock::now() < next_attempt) {
        return;
    }
    PublishCredentials credentials;
    if (!settings.credentials_file.empty()) {
        // Read at every attempt: a file mended meanwhile is used at once.
        Reading<PublishCredentials> reading = ReadPublishCredentials(settings.credentials_file);
        if (const auto* why = std::get_if<std::string>(&reading)) {
            Failed(*why);
            return;
        }
        credentials = std::get<PublishCredentials>(reading);
    }
    LinkSettings link_settings;
    link_settings.target = target;
    link_settings.credentials = credentials;
    link_settings.client_id = "quorvane-" + target.prefix;
    std::replace(link_settings.client_id.begin(), link_settings.client_id.end(), '/', '-');
    link_settings.will_topic = target.prefix + "/status";
    link_settings.will_payload = kOfflinePayload;
    link = std::make_unique<MqttLink>(link_settings);
    const std::string reason = link->Connect();
    if (!reason.empty()) {
        Failed(reason);
        return;
    }
    connecting = true;
}

void Publisher::Inner::ConnectionLost() {
    in_flight.clear();
    for (auto& port : ports) {
        for (Waiting& waiting : port->from_outbox) {
            waiting.sent = waiting.taken;
        }
        for (Waiting& waiting : port->fresh) {
            waiting.sent = waiting.taken;
        }
    }
    for (SideMessage& waiting : side) {
        waiting.sent = waiting.taken;
    }
    status_again = true;
}

bool Publisher::Inner::Send(const std::string& topic, const std::string& payload, bool retain,
                            InFlight flight) {
    const std::optional<int> id = link->Publish(topic, payload, retain);
    if (!id) {
        return false;
    }
    in_flight[*id] = flight;
    return true;
}

void Publisher::Inner::LoadOutbox(PortPublisher& port) {
    if (port.from_outbox.size() >= kOutboxLoad / 2 || port.outbox_read >= port.outbox_length) {
        return;
    }
    std::ifstream in(port.outbox_path, std::ios::binary);
    if (!in) {
        return;
    }
    in.seekg(static_cast<std::streamoff>(port.outbox_read));
    std::string line;
    while (port.from_outbox.size() < kOutboxLoad && std::getline(in, line)) {
        if (in.eof()) {
            break;  // a line without its end: torn, or still being written
        }
        port.outbox_read += line.size() + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        const size_t blank = line.find(' ');
        Waiting waiting;
        if (blank == std::string::npos) {
            continue;
        }
        waiting.seq = std::strtoll(line.c_str(), nullptr, 10);
        waiting.payload = line.substr(blank + 1);
        waiting.outbox_end = port.outbox_read;
        port.from_outbox.push_back(std::move(waiting));
    }
}

void Publisher::Inner::ForgetOutboxIfDone(PortPublisher& port) {
    if (!port.from_outbox.empty() || port.outbox_done == 0) {
        return;
    }
    // Everything it held has been taken: it goes (emptied where it cannot).
    if (port.outbox_length == port.outbox_done &&
        (platform::RemoveFile(port.outbox_path.c_str()) ||
         platform::TruncateFile(port.outbox_path.c_str(), 0))) {
        port.outbox_done = port.outbox_read = port.outbox_length = 0;
        port.state_changed = true;
    }
}

bool Publisher::Inner::SendWhatCan() {
    if (!link->Connected()) {
        return false;
    }
    bool sent = false;
    std::optional<std::string> new_status;
    std::deque<Inbox::Message> arrived;
    inbox->Take(status_again, new_status, arrived);
    status_again = false;
    for (Inbox::Message& message : arrived) {
        side.push_back({++side_numbers, std::move(message)});
    }
    if (new_status) {
        status = std::move(new_status);
    }
    if (status && Send(target.prefix + "/status", *status, true, {ports.size(), -1})) {
        status.reset();
        sent = true;
    }
    for (SideMessage& waiting : side) {
        if (in_flight.size() >= kWindow) {
            break;
        }
        if (waiting.sent) {
            continue;
        }
        if (!Send(waiting.message.topic, waiting.message.payload, false,
                  {ports.size(), waiting.number})) {
            return sent;
        }
        waiting.sent = true;
        sent = true;
    }
    // The ports in turn, each in order: its outbox, then memory.
    bool more = true;
    while (more && in_flight.size() < kWindow) {
        more = false;
        for (size_t p = 0; p < ports.size() && in_flight.size() < kWindow; ++p) {
            PortPublisher& port = *ports[p];
            LoadOutbox(port);
            Waiting* next = nullptr;
            for (Waiting& waiting : port.from_outbox) {
                if (!waiting.sent) {
                    next = &waiting;
                    break;
                }
            }
            if (next == nullptr && port.from_outbox.empty()) {
                for (Waiting& waiting : port.fresh) {
                    if (!waiting.sent) {
                        next = &waiting;
                        break;
                    }
                }
            }
            if (next == nullptr) {
                continue;
            }
            if (!Send(port.topic, next->payload, false, {p, next->seq})) {
                return sent;
            }
            next->sent = true;
            sent = true;
            more = true;
        }
    }
    return sent;
}

void Publisher::Inner::Taken(int id) {
    const auto found = in_flight.find(id);
    if (found == in_flight.end()) {
        return;
    }
    const InFlight flight = found->second;
    in_flight.erase(found);
    {
        const std::lock_guard<std::mutex> lock(health_mutex);
        ++health.messages_taken;
    }
    if (flight.port >= ports.size()) {
        for (SideMessage& waiting : side) {
            if (waiting.number == flight.seq) {
                waiting.taken = true;
                break;
            }
        }
        while (!side.empty() && side.front().taken) {
            side.pop_front();
        }
        return;
    }
    PortPublisher& port = *ports[flight.port];
    for (std::deque<Waiting>* queue : {&port.from_outbox, &port.fresh}) {
        for (Waiting& waiting : *queue) {
            if (waiting.seq == flight.seq && waiting.sent) {
                waiting.taken = true;
                break;
            }
        }
    }
    while (!port.from_outbox.empty() && port.from_outbox.front().taken) {
        port.outbox_done = port.from_outbox.front().outbox_end;
        port.from_outbox.pop_front();
        port.state_changed = true;
    }
    while (!port.fresh.empty() && port.fresh.front().taken) {
        port.fresh_bytes -= port.fresh.front().payload.size();
        port.fresh.pop_front();
        port.state_changed = true;
    }
    ForgetOutboxIfDone(port);
}

bool Publisher::Inner::AllTaken() const {
    if (!in_flight.empty() || !side.empty() || status.has_value()) {
        return false;
    }
    for (const auto& port : ports) {
        if (port->waiting() != 0) {
            return false;
        }
        if (port->outbox_length > port->outbox_read) {
            return false;
        }
    }
    return true;
}

void Publisher::Inner::Run() {
    while (!inbox->Stopping()) {
        ConnectIfDue();
        const bool read = LookAtJournals(false);
        const bool sent = SendWhatCan();
        bool taken_any = false;
        if (link->Connected() || connecting) {
            // While the broker owes answers, they are what is waited for.
            const bool wait = !read && !sent && (connecting || !in_flight.empty());
            std::vector<int> taken;
            const std::string reason = link->Service(wait ? kLookInterval : milliseconds(0), taken);
            for (const int id : taken) {
                Taken(id);
            }
            taken_any = !taken.empty() || wait;
            if (!reason.empty()) {
                Failed(reason);
            } else if (connecting && link->Connected()) {
                Connected();
            }
        }
        SaveStates(false);
        if (!read && !sent && !taken_any) {
            // Woken by an append to a journal, the status, a log entry or the stop.
            inbox->Wait(std::min(kIdleWait, NextLookDue()));
        }
    }
}

void Publisher::Inner::Connected() {
    connecting = false;
    pause = kFirstPause;
    if (!ever_worked || !problem_told.empty()) {
        Log(logmsg::k47PublishingWorks, target.Url().c_str());
    }
    ever_worked = true;
    problem_told.clear();
    ConnectionLost();  // everything not yet taken is sent again
    SetHealth(true, {});
}

// How long until a journal that has grown may be looked at again.
milliseconds Publisher::Inner::NextLookDue() const {
    const SteadyClock::time_point now = SteadyClock::now();
    milliseconds due = kIdleWait;
    for (const auto& port : ports) {
        if (ReadJournalFeed(port->journal_path).text_total != port->feed_seen) {
            const auto left =
                std::chrono::duration_cast<milliseconds>(port->looked + kLookInterval - now);
            due = std::min(due, std::max(left, milliseconds(1)));
        }
    }
    return due;
}

// At the stop: reads what the journals still hold, ends the text that waits
// for its terminator, delivers what it can by `deadline`, keeps the rest in
// the outbox, and counts what it could not keep.
void Publisher::Inner::Finish(SteadyClock::time_point deadline) {
    // A cut at the stop that came before the last look is found here, and
    // what the file held too briefly is taken from the feed.
    LookAtJournals(true);
    for (auto& port : ports) {
        std::vector<TextRecord> records;
        port->cutter.EndIfWaited(INT64_MAX, records);
        Keep(*port, records);
        TakeFromFeed(*port, port->consumed);  // tells what the disk refused
    }
    while (link->Connected() && !AllTaken() && SteadyClock::now() < deadline) {
        SendWhatCan();
        std::vector<int> taken;
        if (!link->Service(milliseconds(10), taken).empty()) {
            break;
        }
        for (const int id : taken) {
            Taken(id);
        }
    }
    for (auto& port : ports) {
        if (!port->fresh.empty() && !Spill(*port)) {
            TellMissed(*port, port->fresh_bytes,
                       "the publisher stopped before the broker took it, and its outbox "
                       "could not be written");
            port->fresh.clear();
            port->fresh_bytes = 0;
        }
    }
    SaveStates(true);
    link->Disconnect();
}

// ---- Publisher ---------------------------------------------------------------

Publisher::Publisher(PublisherSettings settings) : inner_(std::make_shared<Inner>()) {
    inner_->settings = std::move(settings);
    const Reading<PublishTarget> target = ReadPublishTarget(inner_->settings.publish_to);
    if (const auto* why = std::get_if<std::string>(&target)) {
        inner_->target_problem = *why;
    } else {
        inner_->target = std::get<PublishTarget>(target);
    }
    inner_->inbox = std::make_shared<Inbox>(inner_->settings.directory, inner_->target.prefix);
    inner_->link = std::make_unique<MqttLink>(LinkSettings{});
}

Publisher::~Publisher() {
    Stop(std::chrono::milliseconds(0));
}

void Publisher::Start() {
    Inner& inner = *inner_;
    if (inner.started) {
        return;
    }
    if (!inner.target_problem.empty()) {
        inner.Log(logmsg::k46PublishingFails, inner.settings.publish_to.c_str(),
                  ("PublishTo cannot be used: " + inner.target_problem).c_str());
        inner.SetHealth(false, "PublishTo cannot be used: " + inner.target_problem);
        return;
    }
    if (!MqttLink::Available()) {
        inner.Log(logmsg::k46PublishingFails, inner.target.Url().c_str(),
                  MqttLink::LibraryText().c_str());
        inner.SetHealth(false, MqttLink::LibraryText());
        return;
    }
    inner.PrepareStart();
    SetLogEntryObserver(inner.inbox);
    SetStatisticsRowObserver(inner.inbox);
    std::weak_ptr<Inbox> woken = inner.inbox;
    SetJournalFeedWaker([woken] {
        if (const std::shared_ptr<Inbox> inbox = woken.lock()) {
            inbox->Wake();
        }
    });
    inner.started = true;
    inner.thread = std::thread([&inner] { inner.Run(); });
}

void Publisher::Stop(std::chrono::milliseconds grace) {
    Inner& inner = *inner_;
    if (!inner.started) {
        return;
    }
    inner.inbox->Stop();
    inner.thread.join();
    inner.Finish(SteadyClock::now() + grace);
    SetLogEntryObserver(nullptr);
    SetStatisticsRowObserver(nullptr);
    SetJournalFeedWaker(nullptr);
    for (const auto& port : inner.ports) {
        FollowJournalFeed(port->journal_path, false);
    }
    inner.started = false;
}

void Publisher::TakeStatus(const std::string& text) {
    inner_->inbox->TakeStatus(text);
}

void Publisher::SetHealthObserver(std::function<void(const PublishingHealth&)> observer) {
    inner_->health_observer = std::move(observer);
}

PublishingHealth Publisher::Health() const {
    const std::lock_guard<std::mutex> lock(inner_->health_mutex);
    return inner_->health;
}

}  // namespace publish
