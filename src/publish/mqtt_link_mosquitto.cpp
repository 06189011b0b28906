#include <mosquitto.h>

#include <mutex>

#include "publish/mqtt_link.h"

namespace publish {

struct MqttLink::State {
    LinkSettings settings;
    mosquitto* client = nullptr;
    bool connected = false;
    std::string failure;  // set by the callbacks
    std::vector<int> taken;
};

namespace {

std::once_flag g_library_once;

void OnConnect(mosquitto* /*client*/, void* object, int result) {
    auto* state = static_cast<MqttLink::State*>(object);
    if (result == 0) {
        state->connected = true;
    } else {
        state->failure = std::string("the broker refused the connection: ") +
                         mosquitto_connack_string(result);
    }
}

void OnDisconnect(mosquitto* /*client*/, void* object, int result) {
    auto* state = static_cast<MqttLink::State*>(object);
    if (state->failure.empty()) {
        state->failure = result == 0 ? "the connection was closed"
                                     : std::string("the connection was lost: ") +
                                           mosquitto_strerror(result);
    }
    state->connected = false;
}

void OnPublish(mosquitto* /*client*/, void* object, int id) {
    static_cast<MqttLink::State*>(object)->taken.push_back(id);
}

// The library's words; for a system error they are the system's (errno).
std::string Reason(int result) {
    return mosquitto_strerror(result);
}

void Close(MqttLink::State& state) {
    if (state.client != nullptr) {
        mosquitto_destroy(state.client);
        state.client = nullptr;
    }
    state.connected = false;
}

}  // namespace

MqttLink::MqttLink(LinkSettings settings) : state_(std::make_unique<State>()) {
    state_->settings = std::move(settings);
    std::call_once(g_library_once, [] { mosquitto_lib_init(); });
}

MqttLink::~MqttLink() {
    Close(*state_);
}

bool MqttLink::Available() {
    return true;
}

std::string MqttLink::LibraryText() {
    int major = 0;
    int minor = 0;
    int revision = 0;
    mosquitto_lib_version(&major, &minor, &revision);
    return "libmosquitto " + std::to_string(major) + "." + std::to_string(minor) + "." +
           std::to_string(revision);
}

std::string MqttLink::Connect() {
    State& state = *state_;
    Close(state);
    state.failure.clear();
    state.taken.clear();
    const LinkSettings& settings = state.settings;
    state.client = mosquitto_new(settings.client_id.c_str(), true, &state);
    if (state.client == nullptr) {
        return "the MQTT client cannot be made (out of memory)";
    }
    mosquitto_connect_callback_set(state.client, OnConnect);
    mosquitto_disconnect_callback_set(state.client, OnDisconnect);
    mosquitto_publish_callback_set(state.client, OnPublish);
    mosquitto_int_option(state.client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
    int result = mosquitto_will_set(state.client, settings.will_topic.c_str(),
                                    static_cast<int>(settings.will_payload.size()),
                                    settings.will_payload.data(), 1, true);
    const PublishCredentials& credentials = settings.credentials;
    if (result == MOSQ_ERR_SUCCESS && !credentials.user.empty()) {
        result = mosquitto_username_pw_set(
            state.client, credentials.user.c_str(),
            credentials.password.empty() ? nullptr : credentials.password.c_str());
    }
    if (result == MOSQ_ERR_SUCCESS && settings.target.tls) {
        const char* ca_file = credentials.ca_file.empty() ? nullptr : credentials.ca_file.c_str();
        result = mosquitto_tls_set(
            state.client, ca_file, ca_file == nullptr ? "/etc/ssl/certs" : nullptr,
            credentials.certificate.empty() ? nullptr : credentials.certificate.c_str(),
            credentials.key.empty() ? nullptr : credentials.key.c_str(), nullptr);
    }
    if (result != MOSQ_ERR_SUCCESS) {
        const std::string reason = "the connection cannot be set up: " + Reason(result);
        Close(state);
        return reason;
    }
    result = mosquitto_connect_async(state.client, settings.target.host.c_str(),
                                     settings.target.port, 30);
    if (result != MOSQ_ERR_SUCCESS) {
        const std::string reason = Reason(result);
        Close(state);
        return reason;
    }
    return {};
}

std::string MqttLink::Service(std::chrono::milliseconds timeout, std::vector<int>& taken) {
    State& state = *state_;
    if (state.client == nullptr) {
        return "not connected";
    }
    const int result = mosquitto_loop(state.client, static_cast<int>(timeout.count()), 1);
    taken.insert(taken.end(), state.taken.begin(), state.taken.end());
    state.taken.clear();
    if (!state.failure.empty() || result != MOSQ_ERR_SUCCESS) {
        std::string reason = !state.failure.empty() ? state.failure : Reason(result);
        Close(state);
        return reason;
    }
    return {};
}

bool MqttLink::Connected() const {
    return state_->client != nullptr && state_->connected;
}

std::optional<int> MqttLink::Publish(const std::string& topic, std::string_view payload,
                                     bool retain) {
    if (!Connected()) {
        return std::nullopt;
    }
    int id = 0;
    if (mosquitto_publish(state_->client, &id, topic.c_str(), static_cast<int>(payload.size()),
                          payload.data(), 1, retain) != MOSQ_ERR_SUCCESS) {
        return std::nullopt;
    }
    return id;
}

void MqttLink::Disconnect() {
    State& state = *state_;
    if (state.client != nullptr && state.connected) {
        mosquitto_disconnect(state.client);
        mosquitto_loop(state.client, 100, 1);
    }
    Close(state);
}

}  // namespace publish
