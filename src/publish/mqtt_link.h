// One connection to an MQTT broker, driven by its owner's thread: connect,
// hand over messages, service the socket, learn which messages the broker
// has taken. The only unit that sees the MQTT library (libmosquitto); a build
// without it has a link that cannot connect and says why.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "publish/publish_target.h"

namespace publish {

struct LinkSettings {
    PublishTarget target;
    PublishCredentials credentials;
    std::string client_id;
    std::string will_topic;  // retained, at QoS 1, when the connection dies
    std::string will_payload;
};

class MqttLink {
public:
    explicit MqttLink(LinkSettings settings);
    ~MqttLink();
    MqttLink(const MqttLink&) = delete;
    MqttLink& operator=(const MqttLink&) = delete;

    // False in a build without an MQTT library.
    static bool Available();
    // The MQTT library and its version, or why there is none.
    static std::string LibraryText();

    // Begins a connection (the broker's answer comes through Service). An
    // empty text when begun, else why not.
    std::string Connect();
    // Sends and receives for up to `timeout`. The ids of the messages the
    // broker has taken since the last call go to `taken`. Returns an empty
    // text while the connection stands or is being made, else why it failed
    // or ended (the broker's refusal in its own words); the link is then
    // closed, and what it was given and had not confirmed is to be sent again.
    std::string Service(std::chrono::milliseconds timeout, std::vector<int>& taken);
    // True once the broker has accepted the connection.
    bool Connected() const;
    // Hands a message over (QoS 1); its id, or nothing when not connected.
    std::optional<int> Publish(const std::string& topic, std::string_view payload, bool retain);
    // Ends the connection politely (the will is not sent).
    void Disconnect();

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace publish
