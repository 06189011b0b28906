// Where a station publishes (the PublishTo key) and with which credentials
// (the file PublishCredentialsFile names), read and checked before anything
// connects, so that `check`, `lint` and the logger give the same reasons.
#pragma once

#include <string>
#include <string_view>
#include <variant>

namespace publish {

inline constexpr int kMqttPort = 1883;
inline constexpr int kMqttsPort = 8883;

// mqtt://HOST[:PORT]/PREFIX, or mqtts:// for TLS.
struct PublishTarget {
    bool tls = false;
    std::string host;
    int port = kMqttPort;
    std::string prefix;  // without a leading or trailing '/'
    std::string Url() const;  // as the log and the status name it
};

// What the credentials file holds: KEY=VALUE lines, '#' or ';' begins a
// comment line. Keys: User, Password, Certificate, Key (a client
// certificate and its key, PEM files), CaFile (the certificate authority the
// broker's certificate must be signed by; the system's otherwise).
struct PublishCredentials {
    std::string user;
    std::string password;
    std::string certificate;
    std::string key;
    std::string ca_file;
};

// A reading's result: the value, or why it cannot be used.
template <typename T>
using Reading = std::variant<T, std::string>;

Reading<PublishTarget> ReadPublishTarget(std::string_view text);

// Refuses a file that others than its owner may read (POSIX), an unknown
// key, a password without a user, a certificate without its key.
Reading<PublishCredentials> ReadPublishCredentials(const std::string& path);

}  // namespace publish
