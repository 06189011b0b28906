#include "acquisition/status.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <map>
#include <utility>

std::mutex StatusLock;

std::string StatusAcquisition = "Disabled";
std::string StatusStatistics = "Disabled";
std::string StatusPortsOpen = "None";
std::string StatusPortErrors = "None";
std::string StatusReceivedData = "None";
std::string StatusBufferOverflows = "None";
std::string StatusLastUpdate = "None";
std::string StatusNextUpdate = "None";
std::string SharedMessageText;

namespace {

constexpr std::array<StatusLine, kStatusCount> kLines = {{
    {"Data acquisition:", 60},
    {"Diagnostic statistics:", 76},
    {"Ports currently open:", 92},
    {"Port errors:", 108},
    {"Received data from:", 124},
    {"Buffer overflows:", 140},
    {"Last status update:", 156},
    {"Next status update:", 172},
}};

std::array<std::string*, kStatusCount> kTexts = {
    &StatusAcquisition,  &StatusStatistics,      &StatusPortsOpen,  &StatusPortErrors,
    &StatusReceivedData, &StatusBufferOverflows, &StatusLastUpdate, &StatusNextUpdate,
};

std::atomic<StatusObserver*> g_mirror{nullptr};

std::array<Rgb, kStatusCount> g_drawn_colours = {kDarkGreen, kDarkGreen, kDarkGreen, kDarkGreen,
                                                 kDarkGreen, kDarkGreen, kDarkGreen, kDarkGreen};

}  // namespace

const StatusLine& StatusLineOf(StatusIndex index) { return kLines.at(static_cast<size_t>(index)); }

std::string& StatusText(StatusIndex index) { return *kTexts.at(static_cast<size_t>(index)); }

Rgb LastDrawnColour(StatusIndex index) { return g_drawn_colours.at(static_cast<size_t>(index)); }

namespace {

// "COM1,COM3  " as a list of names, blanks trimmed.
std::vector<std::string> PortNames(const std::string& list) {
    std::vector<std::string> names;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        std::string name = list.substr(at, comma - at);
        name.erase(0, name.find_first_not_of(' '));
        name.erase(name.find_last_not_of(' ') + 1);
        if (name.rfind("COM", 0) == 0) {
            names.push_back(std::move(name));
        }
        at = comma + 1;
    }
    return names;
}

}  // namespace

std::vector<std::string> SilentPorts(const std::string& ports_open, const std::string& received) {
    std::vector<std::string> silent;
    if (received.find("First") != std::string::npos) {
        return silent;
    }
    const std::vector<std::string> delivered = PortNames(received);
    for (const std::string& port : PortNames(ports_open)) {
        if (std::find(delivered.begin(), delivered.end(), port) == delivered.end()) {
            silent.push_back(port);
        }
    }
    return silent;
}

namespace {

std::mutex g_port_failures_mutex;
std::map<int, std::string> g_port_failures;  // by port number

}  // namespace

void SetPortFailure(int port_number, const std::string& text) {
    const std::lock_guard lock(g_port_failures_mutex);
    g_port_failures[port_number] = text;
}

void ClearPortFailure(int port_number) {
    const std::lock_guard lock(g_port_failures_mutex);
    g_port_failures.erase(port_number);
}

void ClearPortFailures() {
    const std::lock_guard lock(g_port_failures_mutex);
    g_port_failures.clear();
}

std::vector<std::string> PortFailures() {
    const std::lock_guard lock(g_port_failures_mutex);
    std::vector<std::string> failures;
    for (const auto& [number, text] : g_port_failures) {
        failures.push_back(text);
    }
    return failures;
}

StatusDrawBlock::StatusDrawBlock(StatusObserver* observer)
    : observer_(observer), lock_(StatusLock) {}

StatusDrawBlock::~StatusDrawBlock() {
    lock_.unlock();
    if (drawn_.empty()) {
        return;
    }
    if (observer_ != nullptr) {
        observer_->OnStatusDrawn(drawn_);
    }
    if (StatusObserver* mirror = g_mirror.load()) {
        mirror->OnStatusDrawn(drawn_);
    }
}

void SetStatusMirror(StatusObserver* mirror) {
    g_mirror.store(mirror);
}

void StatusDrawBlock::Set(StatusIndex index, std::string text, Rgb colour) {
    StatusText(index) = std::move(text);
    Draw(index, colour);
}

void StatusDrawBlock::Draw(StatusIndex index, Rgb colour) {
    g_drawn_colours.at(static_cast<size_t>(index)) = colour;
    drawn_.push_back({index, colour, StatusText(index)});
}

void ResetStatusTexts() {
    std::lock_guard<std::mutex> lock(StatusLock);
    StatusAcquisition = "Disabled";
    StatusStatistics = "Disabled";
    for (int i = kStatusPortsOpen; i < kStatusCount; ++i) {
        StatusText(static_cast<StatusIndex>(i)) = "None";
    }
    g_drawn_colours.fill(kDarkGreen);
}
