#include "station/station_status.h"

#include <cstdio>
#include <nlohmann/json.hpp>
#include <utility>

#include "platform/clock.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/replace_file.h"
#include "platform/service_notify.h"
#include "version/build_info.h"
#include "version/version.h"

namespace {

using nlohmann::json;

std::string WithoutTrailingBlanks(std::string text) {
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::string ColourText(const Rgb& colour) {
    char text[8];
    std::snprintf(text, sizeof text, "#%02x%02x%02x", colour.r, colour.g, colour.b);
    return text;
}

std::string IsoUtc(int64_t seconds) {
    const std::tm t = platform::BreakDownUtc(seconds);
    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

// A member of an object, when it has the wanted kind.
const json* Member(const json& object, const char* name) {
    const auto it = object.find(name);
    return it == object.end() ? nullptr : &*it;
}

bool ReadString(const json& object, const char* name, std::string& value) {
    const json* member = Member(object, name);
    if (member == nullptr || !member->is_string()) {
        return false;
    }
    value = member->get<std::string>();
    return true;
}

bool ReadInteger(const json& object, const char* name, int64_t& value) {
    const json* member = Member(object, name);
    if (member == nullptr || !member->is_number_integer()) {
        return false;
    }
    value = member->get<int64_t>();
    return true;
}

}  // namespace

StatusPageCopy CopyStatusPage() {
    StatusPageCopy page;
    std::lock_guard<std::mutex> lock(StatusLock);
    for (int i = 0; i < kStatusCount; ++i) {
        const auto index = static_cast<StatusIndex>(i);
        page.texts[static_cast<size_t>(i)] = WithoutTrailingBlanks(StatusText(index));
        page.colours[static_cast<size_t>(i)] = LastDrawnColour(index);
    }
    page.port_failures = PortFailures();
    return page;
}

const char* StatusStateOf(const Rgb& colour) {
    if (colour == kRed) {
        return "problem";
    }
    if (colour == kPurple) {
        return "pending";
    }
    return "ok";
}

std::string StatusFileText(const StatusPageCopy& page, int64_t changed, int64_t process,
                           const std::string& directory) {
    json lines = json::array();
    for (int i = 0; i < kStatusCount; ++i) {
        const auto at = static_cast<size_t>(i);
        lines.push_back({{"label", StatusLineOf(static_cast<StatusIndex>(i)).label},
                         {"text", page.texts[at]},
                         {"colour", ColourText(page.colours[at])},
                         {"state", StatusStateOf(page.colours[at])}});
    }
    json file = {{"program", "Quorvane"},
                       {"version", kProgramVersion},
                       {"commit", BuildCommit()},
                       {"process", process},
                       {"directory", directory},
                       {"changed", changed},
                       {"changed_utc", IsoUtc(changed)},
                       {"lines", lines},
                       {"silent", SilentPorts(page.texts[kStatusPortsOpen],
                                              page.texts[kStatusReceivedData])},
                       {"port_failures", page.port_failures}};
    if (!page.publishing.empty()) {
        file["publishing"] = {{"text", page.publishing},
                              {"state", page.publishing_problem ? "problem" : "ok"}};
    }
    // Texts are the engine's own ASCII; a stray byte is replaced, never thrown on.
    return file.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

std::string ServiceStatusLine(const StatusPageCopy& page) {
    std::string line;
    for (StatusIndex index : {kStatusAcquisition, kStatusPortsOpen, kStatusPortErrors}) {
        if (!line.empty()) {
            line += "; ";
        }
        line += StatusLineOf(index).label;
        line += ' ';
        line += page.texts[static_cast<size_t>(index)];
    }
    const std::vector<std::string> silent =
        SilentPorts(page.texts[kStatusPortsOpen], page.texts[kStatusReceivedData]);
    for (size_t i = 0; i < silent.size(); ++i) {
        line += (i == 0 ? "; Silent: " : ",") + silent[i];
    }
    for (const std::string& failure : page.port_failures) {
        line += "; " + failure;
    }
    return line;
}

StationStatusMirror::StationStatusMirror(std::string directory)
    : directory_(std::move(directory)), path_(platform::JoinPath(directory_, kStatusFileName)) {}

StationStatusMirror::~StationStatusMirror() {
    Stop();
}

void StationStatusMirror::Start() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        page_ = CopyStatusPage();
        published_ = false;
        Publish();
    }
    if (!started_) {
        SetStatusMirror(this);
        started_ = true;
    }
}

void StationStatusMirror::Stop() {
    if (started_) {
        SetStatusMirror(nullptr);
        started_ = false;
    }
}

void StationStatusMirror::OnStatusDrawn(const std::vector<StatusDraw>& block) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const StatusDraw& draw : block) {
        const auto at = static_cast<size_t>(draw.index);
        page_.texts[at] = WithoutTrailingBlanks(draw.text);
        page_.colours[at] = draw.colour;
    }
    page_.port_failures = PortFailures();
    Publish();
}

void StationStatusMirror::SetPublishing(const std::string& text, bool problem) {
    std::lock_guard<std::mutex> lock(mutex_);
    publishing_ = text;
    publishing_problem_ = problem;
    Publish();
}

void StationStatusMirror::SetTextObserver(std::function<void(const std::string&)> observer) {
    std::lock_guard<std::mutex> lock(mutex_);
    text_observer_ = std::move(observer);
    if (text_observer_ && published_) {
        text_observer_(StatusFileText(published_page_, platform::Now(), platform::OwnProcessId(),
                                      directory_));
    }
}

void StationStatusMirror::Publish() {
    page_.publishing = publishing_;
    page_.publishing_problem = publishing_problem_;
    if (published_ && page_ == published_page_) {
        return;
    }
    // A file that cannot be written now is written at the next change.
    const std::string text =
        StatusFileText(page_, platform::Now(), platform::OwnProcessId(), directory_);
    if (platform::ReplaceFileContent(path_, text)) {
        published_page_ = page_;
        published_ = true;
    }
    if (text_observer_) {
        text_observer_(text);
    }
    const std::string line = ServiceStatusLine(page_);
    if (line != service_line_) {
        service_line_ = line;
        platform::NotifyServiceManager("STATUS=" + line);
    }
}

bool ParseStatusFile(const std::string& text, StationStatus& status) {
    const json file = json::parse(text, nullptr, false);
    if (file.is_discarded() || !file.is_object()) {
        return false;
    }
    std::string program;
    if (!ReadString(file, "program", program) || program != "Quorvane" ||
        !ReadString(file, "version", status.version) ||
        !ReadInteger(file, "process", status.process) ||
        !ReadInteger(file, "changed", status.changed)) {
        return false;
    }
    const json* lines = Member(file, "lines");
    if (lines == nullptr || !lines->is_array()) {
        return false;
    }
    status.lines.clear();
    for (const json& entry : *lines) {
        StationStatus::Line line;
        if (!entry.is_object() || !ReadString(entry, "label", line.label) ||
            !ReadString(entry, "text", line.text) || !ReadString(entry, "state", line.state)) {
            return false;
        }
        status.lines.push_back(std::move(line));
    }
    // Files of earlier versions have no failures: none is known.
    status.port_failures.clear();
    if (const json* failures = Member(file, "port_failures");
        failures != nullptr && failures->is_array()) {
        for (const json& failure : *failures) {
            if (failure.is_string()) {
                status.port_failures.push_back(failure.get<std::string>());
            }
        }
    }
    status.publishing.clear();
    status.publishing_problem = false;
    if (const json* publishing = Member(file, "publishing");
        publishing != nullptr && publishing->is_object()) {
        std::string state;
        ReadString(*publishing, "text", status.publishing);
        ReadString(*publishing, "state", state);
        status.publishing_problem = state == "problem";
    }
    return true;
}
