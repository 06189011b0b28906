// A real Mosquitto broker for the publishing tests, started on a free
// loopback port with a configuration the test chooses (anonymous, a password
// file, TLS with a certificate authority the test makes), and a subscriber
// that collects what the broker passes on.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace testing_support {

// A certificate authority and a server certificate for 127.0.0.1 (openssl).
struct TestCertificates {
    std::string ca_file;
    std::string server_certificate;
    std::string server_key;
};
// Made in `directory`; false when openssl failed.
bool MakeTestCertificates(const std::string& directory, TestCertificates& made);

struct BrokerOptions {
    std::string user;  // with `password`: only this user may connect
    std::string password;
    const TestCertificates* tls = nullptr;
};

class MqttBroker {
public:
    // Starts mosquitto with its files in `directory`; ok() tells whether it
    // listens.
    MqttBroker(std::string directory, BrokerOptions options);
    ~MqttBroker();
    MqttBroker(const MqttBroker&) = delete;
    MqttBroker& operator=(const MqttBroker&) = delete;

    bool ok() const { return pid_ > 0; }
    int port() const { return port_; }
    // Stops the broker (its clients see the connection end), and starts it
    // again on the same port.
    void Stop();
    bool Restart();

private:
    bool Launch();

    std::string directory_;
    BrokerOptions options_;
    int port_ = 0;
    int pid_ = -1;
};

struct ReceivedMessage {
    std::string topic;
    std::string payload;
    bool retained = false;
};

// Subscribes to `topic_filter` on the broker at `port` (with the CA file for
// TLS when given) and keeps every message it receives. Its session is
// persistent: what is published while the broker restarts reaches it.
class MqttCollector {
public:
    MqttCollector(int port, const std::string& topic_filter, const std::string& ca_file = "",
                  const std::string& user = "", const std::string& password = "");
    ~MqttCollector();
    MqttCollector(const MqttCollector&) = delete;
    MqttCollector& operator=(const MqttCollector&) = delete;

    bool subscribed() const;
    std::vector<ReceivedMessage> Messages() const;
    // Waits until `done` holds of the messages, or `limit` passes; whether it held.
    bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
                 std::chrono::milliseconds limit = std::chrono::seconds(60));

    struct State;

private:
    State* state_;
};

}  // namespace testing_support
