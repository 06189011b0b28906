// The link of a build without an MQTT library: it never connects.
#include "publish/mqtt_link.h"

namespace publish {

struct MqttLink::State {};

MqttLink::MqttLink(LinkSettings /*settings*/) : state_(std::make_unique<State>()) {}

MqttLink::~MqttLink() = default;

bool MqttLink::Available() {
    return false;
}

std::string MqttLink::LibraryText() {
    return "no MQTT library (this build cannot publish)";
}

std::string MqttLink::Connect() {
    return "this build of Quorvane cannot publish (it has no MQTT library)";
}

std::string MqttLink::Service(std::chrono::milliseconds /*timeout*/, std::vector<int>& /*taken*/) {
    return "not connected";
}

bool MqttLink::Connected() const {
    return false;
}

std::optional<int> MqttLink::Publish(const std::string& /*topic*/, std::string_view /*payload*/,
                                     bool /*retain*/) {
    return std::nullopt;
}

void MqttLink::Disconnect() {}

}  // namespace publish
