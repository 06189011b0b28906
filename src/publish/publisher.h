// Publishing a station to an MQTT broker, beside acquisition and never in its
// way: every record of every port (read from the journals as they grow, on
// the publisher's own thread), the status page, the statistics rows and the
// log entries.
//
// Every record is delivered at least once and in order, each with its port's
// sequence number (continued across restarts), so that a consumer drops
// duplicates by number. While the broker is away the publisher keeps reading
// the journals: records the journal will not hold until the broker returns
// (its period was cut, or memory holds too many) wait in the port's outbox
// file in <output directory>/publish. Text the journal no longer held when
// the publisher came to read it is counted and logged (entry 45); problems
// with the broker are logged once each (entry 46), and tried again with a
// growing pause; entry 47 says when publishing works (again).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "config/com_config.h"

namespace publish {

// The folder of the publisher's files in the output directory.
inline constexpr char kPublishFolder[] = "publish";

struct PublishedPort {
    int number = 0;  // the n of [COMn]
    char terminator = '\n';
};

struct PublisherSettings {
    std::string directory;  // the output directory
    std::string publish_to;
    std::string credentials_file;
    std::vector<PublishedPort> ports;
    // The pause before a new attempt doubles from a second up to this.
    std::chrono::milliseconds longest_pause{30000};
    // Records made and not yet taken by the broker that memory holds; more
    // go to the outbox file.
    size_t memory_limit = size_t{16} << 20;
};

// What --version says of publishing: "Publishing to MQTT brokers:
// libmosquitto 2.0.11", or that this build cannot publish.
std::string PublishingSupportLine();

// The settings the configuration asks for; `publish_to` empty when it asks
// for none.
PublisherSettings PublisherSettingsOf(const ComConfig& config);

// What `quorvane-cli status` and the status file tell of publishing.
struct PublishingHealth {
    bool connected = false;
    std::string problem;  // the latest, while it lasts
    std::string text;     // "mqtt://HOST:PORT/PREFIX works", or "... fails: why"
    int64_t messages_taken = 0;  // by the broker, since the start
    int64_t records_waiting = 0;
};

class Publisher {
public:
    explicit Publisher(PublisherSettings settings);
    ~Publisher();
    Publisher(const Publisher&) = delete;
    Publisher& operator=(const Publisher&) = delete;

    // Reads where the last run left off and what the journals hold now (so
    // that what an earlier run left in them is not missed when acquisition
    // starts and writes it away), then starts the thread. Call before
    // acquisition starts.
    void Start();
    // Delivers what it can within `grace`, keeps the rest for the next
    // start, and ends the thread. Call after acquisition has stopped.
    void Stop(std::chrono::milliseconds grace = std::chrono::seconds(3));

    // The status file's text at every change (retained on the broker).
    void TakeStatus(const std::string& text);

    PublishingHealth Health() const;
    // Told of every change of the connection or its problem, from the
    // publisher's thread (or Start's), with no lock of the publisher held.
    // Set before Start.
    void SetHealthObserver(std::function<void(const PublishingHealth&)> observer);

    struct Inner;

private:
    std::shared_ptr<Inner> inner_;
};

}  // namespace publish
