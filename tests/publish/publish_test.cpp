// Publishing against a real Mosquitto broker on loopback, with the real
// engine, pty instruments and the fake clock: what the broker passes on is
// compared with the data files the same run wrote.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cstdio>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "acquisition/archived_text.h"
#include "log/log_file.h"
#include "platform/files.h"
#include "publish/publisher.h"
#include "station/station_session.h"
#include "support/engine_harness.h"
#include "support/mqtt_broker.h"

namespace {

using engine_testing::ArchivedText;
using engine_testing::Records;
using testing_support::BrokerOptions;
using testing_support::MqttBroker;
using testing_support::MqttCollector;
using testing_support::Port;
using testing_support::ReceivedMessage;
using json = nlohmann::json;

// One port's records as received: by number, and whether every copy of a
// number carried the same payload.
struct PortRecords {
    std::map<int64_t, std::string> texts;  // by seq
    bool duplicates_differ = false;
    bool out_of_order = false;  // a number below one seen before, that was not a repeat
    int64_t repeats = 0;

    // The numbers run from 1 without a gap up to `last`.
    bool Whole() const {
        int64_t expected = 1;
        for (const auto& [seq, text] : texts) {
            if (seq != expected++) {
                return false;
            }
        }
        return true;
    }
    std::string Concatenated() const {
        std::string text;
        for (const auto& [seq, piece] : texts) {
            text += piece;
        }
        return text;
    }
};

PortRecords RecordsOf(const std::vector<ReceivedMessage>& messages, const std::string& topic) {
    PortRecords records;
    std::map<int64_t, std::string> payloads;
    int64_t highest = 0;
    for (const ReceivedMessage& message : messages) {
        if (message.topic != topic) {
            continue;
        }
        const json record = json::parse(message.payload);
        const int64_t seq = record.at("seq").get<int64_t>();
        const auto [at, fresh] = payloads.emplace(seq, message.payload);
        if (!fresh) {
            ++records.repeats;
            records.duplicates_differ |= at->second != message.payload;
        } else if (seq < highest) {
            records.out_of_order = true;
        }
        highest = std::max(highest, seq);
        records.texts[seq] = record.at("text").get<std::string>();
    }
    return records;
}

// Instrument text of whole records (each ends in CR), about `bytes` long:
// nothing waits for its terminator, so the fake clock need not move on.
std::string Lines(int port, size_t bytes) {
    std::string text = Records(port, bytes);
    text.resize(text.rfind('\r') + 1);
    return text;
}

size_t TextLength(const std::vector<ReceivedMessage>& messages, const std::string& topic) {
    return RecordsOf(messages, topic).Concatenated().size();
}

std::vector<std::string> LogEntriesWithCode(const std::string& log, const std::string& code) {
    std::vector<std::string> entries;
    size_t at = 0;
    while (at < log.size()) {
        const size_t end = log.find('\n', at);
        const std::string line = log.substr(at, end - at);
        if (line.find(" " + code + "  ") != std::string::npos) {
            entries.push_back(line.substr(line.find(code + "  ")));
        }
        if (end == std::string::npos) {
            break;
        }
        at = end + 1;
    }
    return entries;
}

class Publishing : public engine_testing::EngineTest {
protected:
    // For a failure: what the collector holds, by topic, and the log.
    std::string Summary(const MqttCollector& collector) {
        std::map<std::string, std::pair<size_t, size_t>> topics;  // messages, text bytes
        for (const ReceivedMessage& message : collector.Messages()) {
            auto& [count, bytes] = topics[message.topic];
            ++count;
            bytes += message.payload.size();
        }
        std::string text = "received:\n";
        for (const auto& [topic, numbers] : topics) {
            text += "  " + topic + ": " + std::to_string(numbers.first) + " messages, " +
                    std::to_string(numbers.second) + " payload bytes\n";
        }
        return text + "log:\n" + Log();
    }
    // Sends the text and lets a second pass: the engine reads whole blocks
    // at once and the rest of a block once a second, into the journal.
    void Deliver(sim::PtyPair& pty, int port, const std::string& text) {
        Send(pty, port, text);
        clock_.AdvanceMs(1000);
    }
    ComConfig TwoPorts(sim::PtyPair& a, sim::PtyPair& b, const std::string& publish_to) {
        ComConfig config = testing_support::MakeTestConfig(
            dir_.path(), 15,
            {Port(1, "Thermo").WithDevice(a.path()).WithTerminator('\r'),
             Port(3, "Baro").WithDevice(b.path()).WithTerminator('\r')});
        config.PublishTo = publish_to;
        return config;
    }
    std::string Url(const MqttBroker& broker, const char* scheme = "mqtt") {
        return std::string(scheme) + "://127.0.0.1:" + std::to_string(broker.port()) + "/site/one";
    }
    // The text of each port as its data files hold it, hour after hour.
    std::string Archived(int port) {
        std::string text;
        for (const char* hour : {"2406110", "2406111", "2406112"}) {
            const std::string name = std::string(hour) + ".P0" + std::to_string(port);
            if (platform::PathExists(dir_.File(name).c_str())) {
                text += ArchivedText(File(name));
            }
        }
        return text;
    }

    testing_support::TempDir broker_dir_;
};

// Two ports stream through two period ends; the broker goes away over the
// second (the journal is cut while it is away) and comes back: every record
// arrives, numbered from 1 without a gap, a repeat only with the same
// payload, and each port's records together are its data files' text. The
// retained status is the status file, and the log entries arrive too.
TEST_F(Publishing, EveryRecordArrivesAcrossAnOutageAndTogetherTheyAreTheDataFiles) {
    MqttBroker broker(broker_dir_.path(), BrokerOptions{});
    ASSERT_TRUE(broker.ok());
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& baro = AddPty();
    SetTime(10, 50);
    ComConfig config = TwoPorts(thermo, baro, Url(broker));
    // Statistics of COM1's temperature and pressure (tokens 2 and 3).
    config.DoStats[0] = 1;
    config.NumTokenIndices[0] = 2;
    for (int j = 0; j < 2; ++j) {
        config.TokenIndicesForStatistics[0][j] = 2 + j;
        config.ErrorCheckingTokenIndices[0][j] = 2 + j;
        config.ErrorValuesPerTokenIndex[0][j] = -9999;
        std::snprintf(config.TokenLabelsForStatistics[0][j], CONFIG_STRING_LEN, "%s",
                      j == 0 ? "T" : "P");
    }
    StationSession session;
    std::string message;
    ASSERT_EQ(session.Claim(config, message), StationClaim::kClaimed) << message;
    Start(config);

    MqttCollector collector(broker.port(), "site/one/#");
    ASSERT_TRUE(collector.subscribed());
    const std::string thermo_before = Lines(1, 3000);
    const std::string baro_before = Lines(3, 700);
    Deliver(thermo, 0, thermo_before);
    Deliver(baro, 1, baro_before);
    ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return TextLength(messages, "site/one/COM1/text") == thermo_before.size() &&
               TextLength(messages, "site/one/COM3/text") == baro_before.size();
    })) << "before the outage" << Summary(collector);
    EndPeriodAt(11, 0);

    broker.Stop();
    Deliver(thermo, 0, Lines(11, 5000));
    Deliver(baro, 1, Lines(33, 900));
    EndPeriodAt(11, 15);  // the journal is cut while the broker is away
    Deliver(thermo, 0, Lines(111, 200));
    ASSERT_TRUE(broker.Restart());
    Deliver(baro, 1, Lines(333, 100));
    SetTime(11, 20);
    Stop();

    const std::string thermo_text = Archived(1);
    const std::string baro_text = Archived(3);
    ASSERT_EQ(thermo_text, thermo_before + Lines(11, 5000) + Lines(111, 200));
    ASSERT_EQ(baro_text, baro_before + Lines(33, 900) + Lines(333, 100));
    ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return RecordsOf(messages, "site/one/COM1/text").Concatenated() == thermo_text &&
               RecordsOf(messages, "site/one/COM3/text").Concatenated() == baro_text;
    })) << "after the outage" << Summary(collector);
    for (const char* topic : {"site/one/COM1/text", "site/one/COM3/text"}) {
        const PortRecords records = RecordsOf(collector.Messages(), topic);
        EXPECT_TRUE(records.Whole()) << topic;
        EXPECT_FALSE(records.duplicates_differ) << topic;
        EXPECT_FALSE(records.out_of_order) << topic;
    }

    // The latest page is the status file's, and the log's entries came.
    const std::string status_file = File("quorvane-status.json");
    EXPECT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        for (auto it = messages.rbegin(); it != messages.rend(); ++it) {
            if (it->topic == "site/one/status") {
                return json::parse(it->payload) == json::parse(status_file);
            }
        }
        return false;
    })) << status_file << Summary(collector);
    const std::vector<ReceivedMessage> messages = collector.Messages();
    EXPECT_TRUE(std::any_of(messages.begin(), messages.end(), [](const ReceivedMessage& m) {
        return m.topic == "site/one/log" && json::parse(m.payload).at("code").get<int>() == 20;
    }));
    // The first period's statistics row of the temperature.
    const auto row = std::find_if(messages.begin(), messages.end(), [](const ReceivedMessage& m) {
        return m.topic == "site/one/COM1/statistics" &&
               json::parse(m.payload).at("parameter_name") == "T";
    });
    ASSERT_NE(row, messages.end());
    // The same numbers as the statistics file's row ("Thermo  T  samples mean ...").
    const json statistics = json::parse(row->payload);
    const std::string sta = File("2406110.sta");
    std::istringstream file_row(sta.substr(sta.find("\nThermo") + 1));
    std::string instrument;
    std::string label;
    long samples = 0;
    double mean = 0;
    file_row >> instrument >> label >> samples >> mean;
    EXPECT_EQ(label, "T");
    EXPECT_GT(samples, 100);
    EXPECT_EQ(statistics.at("samples_in_statistics"), samples);
    EXPECT_EQ(statistics.at("mean"), mean);
    EXPECT_EQ(statistics.at("period_end"), "2024-03-01T11:00:00.000Z");
    session.Close();
    // A new subscriber gets the page the station left, retained.
    MqttCollector late(broker.port(), "site/one/status");
    ASSERT_TRUE(late.WaitFor([](const std::vector<ReceivedMessage>& received) {
        return !received.empty();
    })) << Summary(late);
    EXPECT_TRUE(late.Messages().front().retained);
    EXPECT_EQ(json::parse(late.Messages().front().payload), json::parse(File("quorvane-status.json")));
    EXPECT_EQ(LogEntriesWithCode(Log(), "45"), std::vector<std::string>{});
    EXPECT_GE(LogEntriesWithCode(Log(), "46").size(), 1u);  // the outage
    EXPECT_GE(LogEntriesWithCode(Log(), "47").size(), 2u);  // before and after it
}

// A broker that refuses the station's password: entry 46 once with the
// broker's reason, acquisition unaffected; the file mended while the logger
// runs is used at the next attempt, and everything arrives.
TEST_F(Publishing, WrongCredentialsAreLoggedOnceAndAMendedFileIsUsedWithoutARestart) {
    BrokerOptions options;
    options.user = "station";
    options.password = "right horse";
    MqttBroker broker(broker_dir_.path(), options);
    ASSERT_TRUE(broker.ok());
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& baro = AddPty();
    SetTime(10, 50);
    ComConfig config = TwoPorts(thermo, baro, Url(broker));
    const std::string credentials = broker_dir_.File("credentials");
    testing_support::WriteFile(credentials, "User=station\nPassword=wrong horse\n");
    platform::SetReadOnly(credentials.c_str(), false);
    std::filesystem::permissions(credentials, std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
    config.PublishCredentialsFile = credentials;
    publish::PublisherSettings settings = publish::PublisherSettingsOf(config);
    settings.longest_pause = std::chrono::milliseconds(200);
    publish::Publisher publisher(settings);
    std::mutex mutex;
    std::condition_variable changed;
    int refusals = 0;
    publisher.SetHealthObserver([&](const publish::PublishingHealth& health) {
        {
            const std::lock_guard<std::mutex> lock(mutex);
            refusals += health.problem.empty() ? 0 : 1;
        }
        changed.notify_all();
    });
    publisher.Start();
    Start(config);

    const std::string thermo_text = Lines(1, 1000);
    Deliver(thermo, 0, thermo_text);
    MqttCollector collector(broker.port(), "site/one/#", "", "station", "right horse");
    ASSERT_TRUE(collector.subscribed());
    {
        // Refused at least twice (the pause is short), told once.
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return refusals >= 2; }));
    }
    EXPECT_EQ(LogEntriesWithCode(Log(), "46"),
              std::vector<std::string>{"46  Publishing to " + Url(broker) +
                                       " fails: the broker refused the connection: Connection "
                                       "Refused: not authorised; tried again, less often each "
                                       "time."});
    EXPECT_NE(publisher.Health().problem, "");
    const std::string baro_text = Lines(3, 500);
    Deliver(baro, 1, baro_text);
    EndPeriodAt(11, 0);
    EXPECT_EQ(ArchivedText(File("2406110.P01")), thermo_text);

    testing_support::WriteFile(credentials, "User=station\nPassword=right horse\n");
    ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return RecordsOf(messages, "site/one/COM1/text").Concatenated() == thermo_text &&
               RecordsOf(messages, "site/one/COM3/text").Concatenated() == baro_text;
    })) << Summary(collector) << publisher.Health().text;
    Stop();
    publisher.Stop();
    EXPECT_EQ(LogEntriesWithCode(Log(), "46").size(), 1u);
    EXPECT_EQ(LogEntriesWithCode(Log(), "47"),
              std::vector<std::string>{"47  Publishing to " + Url(broker) + " works."});
}

// TLS with a certificate authority the test makes: the station trusts the
// broker through CaFile, and the records arrive.
TEST_F(Publishing, OverTlsWithTheStationsOwnCertificateAuthority) {
    testing_support::TestCertificates certificates;
    ASSERT_TRUE(testing_support::MakeTestCertificates(broker_dir_.path(), certificates));
    BrokerOptions options;
    options.tls = &certificates;
    MqttBroker broker(broker_dir_.path(), options);
    ASSERT_TRUE(broker.ok());
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& baro = AddPty();
    SetTime(10, 50);
    ComConfig config = TwoPorts(thermo, baro, Url(broker, "mqtts"));
    const std::string credentials = broker_dir_.File("credentials");
    testing_support::WriteFile(credentials, "CaFile=" + certificates.ca_file + "\n");
    std::filesystem::permissions(credentials, std::filesystem::perms::owner_read |
                                                  std::filesystem::perms::owner_write);
    config.PublishCredentialsFile = credentials;
    publish::Publisher publisher(publish::PublisherSettingsOf(config));
    publisher.Start();
    Start(config);
    MqttCollector collector(broker.port(), "site/one/#", certificates.ca_file);
    ASSERT_TRUE(collector.subscribed());
    const std::string thermo_text = Lines(1, 2000);
    const std::string baro_text = Lines(3, 300);
    Deliver(thermo, 0, thermo_text);
    Deliver(baro, 1, baro_text);
    EXPECT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return RecordsOf(messages, "site/one/COM1/text").Concatenated() == thermo_text &&
               RecordsOf(messages, "site/one/COM3/text").Concatenated() == baro_text;
    })) << Summary(collector);
    Stop();
    publisher.Stop();
    EXPECT_EQ(LogEntriesWithCode(Log(), "46"), std::vector<std::string>{});
}

// The logger stops while the broker is away: what it had not delivered waits
// in the outbox, and the next run sends it first, then its own records,
// numbered on from where the last run ended.
TEST_F(Publishing, ARestartSendsWhatTheBrokerHadNotTakenAndNumbersOn) {
    MqttBroker broker(broker_dir_.path(), BrokerOptions{});
    ASSERT_TRUE(broker.ok());
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& baro = AddPty();
    SetTime(10, 50);
    const ComConfig config = TwoPorts(thermo, baro, Url(broker));
    const std::string first = Lines(1, 600);
    const std::string away = Lines(2, 700);
    const std::string baro_text = Lines(3, 800);
    const std::string second = Lines(4, 100);
    MqttCollector collector(broker.port(), "site/one/#");
    {
        publish::Publisher publisher(publish::PublisherSettingsOf(config));
        publisher.Start();
        Start(config);
        Deliver(thermo, 0, first);
        ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
            return RecordsOf(messages, "site/one/COM1/text").Concatenated() == first;
        })) << Summary(collector);
        broker.Stop();
        Deliver(thermo, 0, away);
        Deliver(baro, 1, baro_text);
        SetTime(10, 55);
        Stop();
        publisher.Stop();
    }
    ASSERT_TRUE(broker.Restart());
    publish::Publisher publisher(publish::PublisherSettingsOf(config));
    publisher.Start();
    StartRun();
    Deliver(thermo, 0, second);
    const std::string thermo_text = first + away + second;
    ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return RecordsOf(messages, "site/one/COM1/text").Concatenated() == thermo_text &&
               RecordsOf(messages, "site/one/COM3/text").Concatenated() == baro_text;
    })) << Summary(collector);
    Stop();
    publisher.Stop();
    const PortRecords records = RecordsOf(collector.Messages(), "site/one/COM1/text");
    EXPECT_TRUE(records.Whole());
    EXPECT_FALSE(records.duplicates_differ);
    EXPECT_EQ(records.texts.rbegin()->first,
              static_cast<int64_t>(std::count(thermo_text.begin(), thermo_text.end(), '\r')));
    EXPECT_EQ(ArchivedText(File("2406110.P01")), thermo_text);
}

// The publisher's thread is held (in its health observer, at its first
// connection) while a port's text arrives and its period is written and its
// journal cut: its first look finds the journal in a later epoch. The text
// the file no longer holds comes from the journal's feed, in order.
TEST_F(Publishing, AJournalFirstSeenAfterItsCutLosesNothing) {
    MqttBroker broker(broker_dir_.path(), BrokerOptions{});
    ASSERT_TRUE(broker.ok());
    sim::PtyPair& thermo = AddPty();
    sim::PtyPair& baro = AddPty();
    SetTime(10, 50);
    const ComConfig config = TwoPorts(thermo, baro, Url(broker));
    const std::string before_cut = Lines(3, 900);
    const std::string after_cut = Lines(3, 300);
    MqttCollector collector(broker.port(), "site/one/#");
    std::mutex mutex;
    std::condition_variable changed;
    bool held = false;
    bool released = false;
    publish::Publisher publisher(publish::PublisherSettingsOf(config));
    publisher.SetHealthObserver([&](const publish::PublishingHealth& health) {
        std::unique_lock<std::mutex> lock(mutex);
        if (health.connected && !held) {
            held = true;
            changed.notify_all();
            changed.wait(lock, [&] { return released; });
        }
    });
    const auto release = [&] {
        const std::lock_guard<std::mutex> lock(mutex);
        released = true;
        changed.notify_all();
    };
    // Let go however the test ends, or the publisher's stop would wait for it.
    const std::unique_ptr<void, std::function<void(void*)>> guard(&mutex,
                                                                  [&](void*) { release(); });
    publisher.Start();
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(60), [&] { return held; }));
    }
    Start(config);
    Deliver(baro, 1, before_cut);
    EndPeriodAt(11, 0);  // written, and the journal cut
    Deliver(baro, 1, after_cut);
    release();
    ASSERT_TRUE(collector.WaitFor([&](const std::vector<ReceivedMessage>& messages) {
        return RecordsOf(messages, "site/one/COM3/text").Concatenated() == before_cut + after_cut;
    })) << Summary(collector);
    Stop();
    publisher.Stop();
    EXPECT_TRUE(RecordsOf(collector.Messages(), "site/one/COM3/text").Whole());
    EXPECT_TRUE(engine_testing::LinesWithCodes(Log(), {"45"}).empty()) << Log();
}

}  // namespace
