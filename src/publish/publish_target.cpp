#include "publish/publish_target.h"

#include <charconv>
#include <fstream>
#include <sstream>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace publish {
namespace {

std::string_view Trim(std::string_view text) {
    const size_t begin = text.find_first_not_of(" \t\r");
    if (begin == std::string_view::npos) {
        return {};
    }
    const size_t end = text.find_last_not_of(" \t\r");
    return text.substr(begin, end - begin + 1);
}

bool IsTopicText(std::string_view text) {
    for (const char c : text) {
        // '+' and '#' are wildcards, a NUL ends a topic in the protocol.
        if (c == '+' || c == '#' || c == '\0' || static_cast<unsigned char>(c) < 0x20) {
            return false;
        }
    }
    return true;
}

Reading<int> ReadPort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) {
        return "the port \"" + std::string(text) + "\" is not a number from 1 to 65535";
    }
    return port;
}

}  // namespace

std::string PublishTarget::Url() const {
    return std::string(tls ? "mqtts://" : "mqtt://") + host + ":" + std::to_string(port) + "/" +
           prefix;
}

Reading<PublishTarget> ReadPublishTarget(std::string_view text) {
    text = Trim(text);
    PublishTarget target;
    std::string_view rest;
    if (text.rfind("mqtt://", 0) == 0) {
        rest = text.substr(7);
    } else if (text.rfind("mqtts://", 0) == 0) {
        target.tls = true;
        target.port = kMqttsPort;
        rest = text.substr(8);
    } else {
        return std::string("it does not begin with mqtt:// or mqtts://");
    }
    const size_t slash = rest.find('/');
    std::string_view authority = rest.substr(0, slash);
    std::string_view prefix = slash == std::string_view::npos ? "" : rest.substr(slash + 1);
    while (!prefix.empty() && prefix.back() == '/') {
        prefix.remove_suffix(1);
    }
    if (authority.find('@') != std::string_view::npos) {
        return std::string("credentials belong in PublishCredentialsFile, not in the address");
    }
    const size_t colon = authority.rfind(':');
    if (colon != std::string_view::npos && authority.find(']') == std::string_view::npos) {
        const Reading<int> port = ReadPort(authority.substr(colon + 1));
        if (const auto* why = std::get_if<std::string>(&port)) {
            return *why;
        }
        target.port = std::get<int>(port);
        authority = authority.substr(0, colon);
    }
    if (authority.empty()) {
        return std::string("it names no host");
    }
    if (prefix.empty()) {
        return std::string("it names no topic prefix (mqtt://HOST/PREFIX)");
    }
    if (!IsTopicText(prefix)) {
        return "the prefix \"" + std::string(prefix) + "\" holds a wildcard or a control character";
    }
    target.host = authority;
    target.prefix = prefix;
    return target;
}

Reading<PublishCredentials> ReadPublishCredentials(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return "the credentials file " + path + " cannot be read";
    }
#ifndef _WIN32
    struct stat info {};
    if (::stat(path.c_str(), &info) == 0 && (info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        return "the credentials file " + path +
               " may be read by others than its owner (chmod 600 it)";
    }
#endif
    PublishCredentials credentials;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        const std::string_view text = Trim(line);
        if (text.empty() || text[0] == '#' || text[0] == ';') {
            continue;
        }
        const size_t equals = text.find('=');
        if (equals == std::string_view::npos) {
            return path + ":" + std::to_string(number) + ": not KEY=VALUE";
        }
        const std::string_view key = Trim(text.substr(0, equals));
        const std::string value(Trim(text.substr(equals + 1)));
        if (key == "User") {
            credentials.user = value;
        } else if (key == "Password") {
            credentials.password = value;
        } else if (key == "Certificate") {
            credentials.certificate = value;
        } else if (key == "Key") {
            credentials.key = value;
        } else if (key == "CaFile") {
            credentials.ca_file = value;
        } else {
            return path + ":" + std::to_string(number) + ": unknown key \"" + std::string(key) +
                   "\" (User, Password, Certificate, Key, CaFile)";
        }
    }
    if (!credentials.password.empty() && credentials.user.empty()) {
        return path + ": a Password without a User";
    }
    if (credentials.certificate.empty() != credentials.key.empty()) {
        return path + ": a client Certificate and its Key go together";
    }
    return credentials;
}

}  // namespace publish
