// The period schedule and the hourly data files: each port's text of a period
// is appended to <directory>/<yy><ddd><hh>.P<nn> between a StartTime and an
// EndTime marker. A text whose file cannot be opened is kept and written at a
// later flush into the file of the hour it was received in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "config/com_config.h"
#include "platform/clock.h"

// The end of the first period: the first multiple of `periodSeconds` after the
// start of the current UTC hour that lies strictly after now (the clock is
// read again at every step).
int64_t FirstPeriodEnd(int periodSeconds);

// "<directory>/<yy><ddd><hh>.P<nn>" for the file-name time and COM number.
std::string DataFilePath(const char* directory, const std::tm& fileNameTime, int portNumber);

// "MM/DD/YY HH:MM:SS:mmm StartTime" (or EndTime), without a line end.
std::string TimeMarker(const platform::SystemTime& time, const char* word);

// What one flush knows about all ports.
struct FlushContext {
    std::tm file_name_time;  // names the files: when the period's polling began
    bool first_flush;        // the first flush since the thread started
    bool end_marker_due;     // stopping, or the scheduled end is minute 0 of an hour
};

// One port's text of the period.
struct PortPeriodText {
    int position;  // port position in the configuration
    const char* text;
    int32_t length;  // every byte counts, zero bytes included
    platform::SystemTime start_time;
    platform::SystemTime stop_time;
    // The port's exchange header, for a port whose acquisition function
    // writes one at the head of its new files (null: none).
    const char* header;
};

// Default limit of text kept per port while its file cannot be written:
// more than an hour of a 115200-baud instrument.
inline constexpr size_t kUnwrittenCapBytes = size_t{64} << 20;

class DataFileWriter {
public:
    DataFileWriter(const ComConfig& config, size_t unwrittenCapBytes = kUnwrittenCapBytes);
    ~DataFileWriter();
    DataFileWriter(const DataFileWriter&) = delete;
    DataFileWriter& operator=(const DataFileWriter&) = delete;

    // Writes one port's period: entry 21 when it has no text; otherwise the
    // layout items due, after any text of the port still unwritten from
    // earlier periods. A file that cannot be opened gets entry 19 and its
    // text is kept for the next flush.
    void WritePort(const FlushContext& context, const PortPeriodText& period);

    // Gives up on text that is still unwritten (entry 30 for each piece);
    // called as acquisition ends.
    void DiscardUnwritten(const char* reason);

    size_t UnwrittenBytes(int position) const;

private:
    // A period's text with every item that belongs around it, decided when
    // it was received; the items that depend on the file's existence are
    // decided when it is written.
    struct Block {
        std::string path;
        std::string creation_items;  // instrument line and hygrometer header
        std::string start_marker;    // with its line end, if any
        bool start_marker_due;       // first flush of the run
        std::string end_marker;      // with its leading line end, if due
        std::string text;            // the raw text, once it has to be kept
        platform::SystemTime start_time;
        platform::SystemTime stop_time;
    };

    Block MakeBlock(const FlushContext& context, const PortPeriodText& period) const;
    // Appends the block with `text` to its file; false (entry 19) when the
    // file cannot be opened.
    bool WriteBlock(const Block& block, std::string_view text);
    // Writes the kept blocks of a port in order; false when one is still
    // not writable (it and those after it stay kept).
    bool WriteUnwritten(int position);
    void Keep(int position, Block block);
    void Discard(int position, const Block& block, const char* reason);

    const ComConfig& config_;
    size_t cap_;
    std::vector<std::deque<Block>> unwritten_;
    std::vector<size_t> unwritten_bytes_;
};
