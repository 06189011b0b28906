#include "support/mqtt_broker.h"

#include <fcntl.h>
#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <thread>

namespace testing_support {
namespace {

int FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    return port;
}

bool Accepts(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<uint16_t>(port));
    const bool accepted =
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return accepted;
}

int Run(const std::string& command) {
    return std::system(command.c_str());
}

}  // namespace

bool MakeTestCertificates(const std::string& directory, TestCertificates& made) {
    made.ca_file = directory + "/ca.crt";
    made.server_certificate = directory + "/server.crt";
    made.server_key = directory + "/server.key";
    const std::string d = "'" + directory + "'";
    const std::string quiet = " >/dev/null 2>&1";
    return Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=QuorvaneTestCA "
               "-keyout " + d + "/ca.key -out " + d + "/ca.crt" + quiet) == 0 &&
           Run("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + d +
               "/server.key -out " + d + "/server.csr" + quiet) == 0 &&
           Run("printf 'subjectAltName=IP:127.0.0.1\\n' > " + d + "/san.ext") == 0 &&
           Run("openssl x509 -req -in " + d + "/server.csr -CA " + d + "/ca.crt -CAkey " + d +
               "/ca.key -CAcreateserial -days 2 -extfile " + d + "/san.ext -out " + d +
               "/server.crt" + quiet) == 0;
}

MqttBroker::MqttBroker(std::string directory, BrokerOptions options)
    : directory_(std::move(directory)), options_(std::move(options)) {
    std::ofstream config(directory_ + "/mosquitto.conf");
    port_ = FreeLoopbackPort();
    // Persistent, so that a subscriber's session outlives a restart.
    // Run as root, mosquitto becomes user "mosquitto", who may not write the
    // test's directory: it stays who the test is.
    const passwd* user = ::getpwuid(::getuid());
    if (user != nullptr) {
        config << "user " << user->pw_name << "\n";
    }
    // Nothing a subscriber's session holds while it is away is dropped.
    config << "persistence true\npersistence_location " << directory_ << "/\n"
           << "max_queued_messages 0\nmax_queued_bytes 0\n"
           << "log_dest file " << directory_ << "/mosquitto.log\n"
           << "listener " << port_ << " 127.0.0.1\n";
    if (!options_.user.empty()) {
        const std::string passwords = directory_ + "/passwords";
        Run("mosquitto_passwd -b -c '" + passwords + "' '" + options_.user + "' '" +
            options_.password + "' >/dev/null 2>&1");
        config << "allow_anonymous false\npassword_file " << passwords << "\n";
    } else {
        config << "allow_anonymous true\n";
    }
    if (options_.tls != nullptr) {
        config << "cafile " << options_.tls->ca_file << "\ncertfile "
               << options_.tls->server_certificate << "\nkeyfile " << options_.tls->server_key
               << "\n";
    }
    config.close();
    Launch();
}

MqttBroker::~MqttBroker() {
    Stop();
}

bool MqttBroker::Launch() {
    const std::string config = directory_ + "/mosquitto.conf";
    const pid_t pid = ::fork();
    if (pid == 0) {
        // Its own words go to its log file; what it says before that, beside it.
        const int output = ::open((directory_ + "/mosquitto.out").c_str(),
                                  O_WRONLY | O_CREAT | O_APPEND, 0600);
        if (output >= 0) {
            ::dup2(output, STDOUT_FILENO);
            ::dup2(output, STDERR_FILENO);
        }
        ::execlp("mosquitto", "mosquitto", "-c", config.c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    pid_ = pid;
    // Ready once it accepts connections; a broker that ended gives up at once.
    for (int attempt = 0; attempt < 1000; ++attempt) {
        if (Accepts(port_)) {
            return true;
        }
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Stop();
    return false;
}

void MqttBroker::Stop() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

bool MqttBroker::Restart() {
    Stop();
    return Launch();
}

struct MqttCollector::State {
    mosquitto* client = nullptr;
    std::string filter;
    mutable std::mutex mutex;
    std::condition_variable arrived;
    std::vector<ReceivedMessage> messages;
    bool subscribed = false;
};

namespace {

void OnConnect(mosquitto* client, void* object, int result) {
    auto* state = static_cast<MqttCollector::State*>(object);
    if (result == 0) {
        mosquitto_subscribe(client, nullptr, state->filter.c_str(), 1);
    }
}

void OnSubscribe(mosquitto* /*client*/, void* object, int /*id*/, int /*count*/,
                 const int* /*granted*/) {
    auto* state = static_cast<MqttCollector::State*>(object);
    {
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->subscribed = true;
    }
    state->arrived.notify_all();
}

void OnMessage(mosquitto* /*client*/, void* object, const mosquitto_message* message) {
    auto* state = static_cast<MqttCollector::State*>(object);
    {
        const std::lock_guard<std::mutex> lock(state->mutex);
        state->messages.push_back(
            {message->topic,
             std::string(static_cast<const char*>(message->payload),
                         static_cast<size_t>(message->payloadlen)),
             message->retain});
    }
    state->arrived.notify_all();
}

}  // namespace

MqttCollector::MqttCollector(int port, const std::string& topic_filter, const std::string& ca_file,
                             const std::string& user, const std::string& password)
    : state_(new State) {
    mosquitto_lib_init();
    state_->filter = topic_filter;
    // A session the broker keeps while the collector is away (and across the
    // broker's restart), so that nothing published meanwhile passes it by.
    static int collectors = 0;
    const std::string id =
        "collector-" + std::to_string(::getpid()) + "-" + std::to_string(++collectors);
    state_->client = mosquitto_new(id.c_str(), false, state_);
    mosquitto_connect_callback_set(state_->client, OnConnect);
    mosquitto_subscribe_callback_set(state_->client, OnSubscribe);
    mosquitto_message_callback_set(state_->client, OnMessage);
    if (!user.empty()) {
        mosquitto_username_pw_set(state_->client, user.c_str(), password.c_str());
    }
    if (!ca_file.empty()) {
        mosquitto_tls_set(state_->client, ca_file.c_str(), nullptr, nullptr, nullptr, nullptr);
    }
    mosquitto_connect(state_->client, "127.0.0.1", port, 30);
    mosquitto_loop_start(state_->client);
    WaitFor([this](const std::vector<ReceivedMessage>&) { return state_->subscribed; },
            std::chrono::seconds(30));
}

MqttCollector::~MqttCollector() {
    mosquitto_disconnect(state_->client);
    mosquitto_loop_stop(state_->client, false);  // its thread ends after the disconnect
    mosquitto_destroy(state_->client);
    delete state_;
}

bool MqttCollector::subscribed() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->subscribed;
}

std::vector<ReceivedMessage> MqttCollector::Messages() const {
    const std::lock_guard<std::mutex> lock(state_->mutex);
    return state_->messages;
}

bool MqttCollector::WaitFor(
    const std::function<bool(const std::vector<ReceivedMessage>&)>& done,
    std::chrono::milliseconds limit) {
    std::unique_lock<std::mutex> lock(state_->mutex);
    return state_->arrived.wait_for(lock, limit, [&] { return done(state_->messages); });
}

}  // namespace testing_support
