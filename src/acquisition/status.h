// The acquisition status shared between the acquisition thread and the front
// ends: eight texts shown after fixed labels of the status page, the lock
// that guards them, and the "drawing" protocol. The acquisition thread never
// touches a toolkit object: it changes texts under StatusLock, records the
// colour each text is drawn in, and tells a StatusObserver, which only asks
// its toolkit for a repaint (never blocking).
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

struct Rgb {
    uint8_t r;
    uint8_t g;
    uint8_t b;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline constexpr Rgb kBlue{0, 0, 255};
inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kDarkGreen{0, 100, 0};
inline constexpr Rgb kRed{255, 0, 0};
inline constexpr Rgb kPurple{123, 18, 126};

// The eight texts in page order, top to bottom.
enum StatusIndex : int {
    kStatusAcquisition = 0,
    kStatusStatistics,
    kStatusPortsOpen,
    kStatusPortErrors,
    kStatusReceivedData,
    kStatusBufferOverflows,
    kStatusLastUpdate,
    kStatusNextUpdate,
};
inline constexpr int kStatusCount = 8;

// Guards the eight texts and the drawn colours. Every change of a text and
// every paint from them happens while holding it.
extern std::mutex StatusLock;

extern std::string StatusAcquisition;      // "Data acquisition:"
extern std::string StatusStatistics;       // "Diagnostic statistics:"
extern std::string StatusPortsOpen;        // "Ports currently open:"
extern std::string StatusPortErrors;       // "Port errors:"
extern std::string StatusReceivedData;     // "Received data from:"
extern std::string StatusBufferOverflows;  // "Buffer overflows:"
extern std::string StatusLastUpdate;       // "Last status update:"
extern std::string StatusNextUpdate;       // "Next status update:"

// Scratch text for message-box texts; the acquisition thread appends its
// "Can't close COMn" notes here.
extern std::string SharedMessageText;

// The page position of one status text: its label at x = 10 and the text
// itself at x = 160, both at y.
struct StatusLine {
    const char* label;
    int y;
};
const StatusLine& StatusLineOf(StatusIndex index);
// The text behind an index. Read or change it only while holding StatusLock.
std::string& StatusText(StatusIndex index);
// The colour the acquisition thread last drew the text in (dark green at
// start). Read it only while holding StatusLock.
Rgb LastDrawnColour(StatusIndex index);

// The ports of `ports_open` (as the page shows them: "COM1,COM3") that
// `received` lacks: open ports that delivered nothing since the last status
// update. None before the first update ("First ..."), none while no port is
// open.
std::vector<std::string> SilentPorts(const std::string& ports_open, const std::string& received);

// Why ports could not be opened, as entry 42 tells it ("COM1 (/dev/ttyUSB7)
// cannot be used: No such file or directory"), for the places an operator
// looks besides the log: the service's status text and the status file.
// Set by a failed open; cleared by an open that works and by a new start.
void SetPortFailure(int port_number, const std::string& text);
void ClearPortFailure(int port_number);
void ClearPortFailures();
// The failures in port order.
std::vector<std::string> PortFailures();

// One text as drawn: which, in which colour, and what it said.
struct StatusDraw {
    StatusIndex index;
    Rgb colour;
    std::string text;
};

class StatusObserver {
public:
    virtual ~StatusObserver() = default;
    // Called on the drawing thread after a drawing block, once StatusLock is
    // released. Must not block: a window only schedules a repaint here.
    virtual void OnStatusDrawn(const std::vector<StatusDraw>& block) = 0;
};

// One drawing block: holds StatusLock from construction to destruction;
// Draw records a text (as it stands now) and its colour; the destructor
// releases the lock and then "flushes" the block to the observer (if any).
class StatusDrawBlock {
public:
    explicit StatusDrawBlock(StatusObserver* observer);
    ~StatusDrawBlock();
    StatusDrawBlock(const StatusDrawBlock&) = delete;
    StatusDrawBlock& operator=(const StatusDrawBlock&) = delete;

    // Replaces the text (the lock is held) and draws it.
    void Set(StatusIndex index, std::string text, Rgb colour);
    // Draws the text as it stands.
    void Draw(StatusIndex index, Rgb colour);

private:
    StatusObserver* observer_;
    std::unique_lock<std::mutex> lock_;
    std::vector<StatusDraw> drawn_;
};

// A second observer of every drawing block, whatever observer the drawing
// thread reports to: for copies of the page outside the window (a status file,
// a service manager's status line). Called after the block's own observer.
// Install and remove it while no acquisition thread runs; nullptr removes it.
void SetStatusMirror(StatusObserver* mirror);

// Sets the initial values of a new document: "Disabled" for the first two
// texts, "None" for the other six; drawn colours back to dark green.
void ResetStatusTexts();
