// The status page outside the window: while a logger runs, its output
// directory holds the page in a small JSON file, replaced as a whole at every
// change, for `quorvane-cli status` and for monitoring; and a service manager
// that asked for notifications gets the acquisition and port lines as its
// status line. Both follow the drawing blocks of the acquisition thread as a
// status mirror, so the window and the headless run keep them alike.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "acquisition/status.h"

// The file's name in the output directory.
inline constexpr char kStatusFileName[] = "quorvane-status.json";

// The eight texts as drawn (trailing blanks removed) and their colours.
struct StatusPageCopy {
    std::array<std::string, kStatusCount> texts;
    std::array<Rgb, kStatusCount> colours;
    std::vector<std::string> port_failures;  // why ports did not open (see PortFailures)
    // Where the station publishes and how that goes ("... works", "...
    // fails: why"); empty when it does not publish.
    std::string publishing;
    bool publishing_problem = false;
    friend bool operator==(const StatusPageCopy&, const StatusPageCopy&) = default;
};

// The page as it stands, read under StatusLock.
StatusPageCopy CopyStatusPage();

// What a colour of the page says: "problem" (red), "pending" (purple), "ok".
const char* StatusStateOf(const Rgb& colour);

// The file's text: program, version, process, directory, the time of the
// change (calendar seconds, also as ISO 8601 UTC) and the eight lines with
// label, text, colour and state.
std::string StatusFileText(const StatusPageCopy& page, int64_t changed, int64_t process,
                           const std::string& directory);

// The service manager's status line: "Data acquisition: ...; Ports currently
// open: ...; Port errors: ...".
std::string ServiceStatusLine(const StatusPageCopy& page);

// Keeps the status file of `directory` and the service status line in step
// with the page from Start to Stop (or its end).
class StationStatusMirror final : public StatusObserver {
public:
    explicit StationStatusMirror(std::string directory);
    ~StationStatusMirror() override;
    StationStatusMirror(const StationStatusMirror&) = delete;
    StationStatusMirror& operator=(const StationStatusMirror&) = delete;

    // Copies the page as it stands, publishes it and follows every drawing
    // block from now on. Call it while no acquisition thread runs.
    void Start();
    // Stops following (the file stays with the last page). Idempotent.
    void Stop();

    const std::string& FilePath() const { return path_; }

    // How publishing goes, for the page's file (see StatusPageCopy).
    void SetPublishing(const std::string& text, bool problem);
    // Called with the file's text at every change of the page, under the
    // mirror's lock (the observer must not call back into the mirror).
    void SetTextObserver(std::function<void(const std::string&)> observer);

    void OnStatusDrawn(const std::vector<StatusDraw>& block) override;

private:
    // Writes the file and the status line when they changed. Holds mutex_.
    void Publish();

    std::string directory_;
    std::string path_;
    std::mutex mutex_;
    StatusPageCopy page_;
    bool published_ = false;
    StatusPageCopy published_page_;
    std::string service_line_;
    bool started_ = false;
    std::string publishing_;
    bool publishing_problem_ = false;
    std::function<void(const std::string&)> text_observer_;
};

// A status file as read back.
struct StationStatus {
    struct Line {
        std::string label;
        std::string text;
        std::string state;
    };
    int64_t process = 0;
    int64_t changed = 0;  // calendar seconds
    std::string version;
    std::vector<Line> lines;
    std::vector<std::string> port_failures;
    std::string publishing;  // empty: the station does not publish
    bool publishing_problem = false;
};
// Reads a status file's text. False when it is not one.
bool ParseStatusFile(const std::string& text, StationStatus& status);
