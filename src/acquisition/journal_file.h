// The journal's file format: how a port's received text, the intent before
// each data-file write and the end of each written span lie on disk, and the
// sequential reader that finds them again.
//
// A port's journal is <output directory>/journal/Port<n> (n of [COMn]; not
// COM<n>, which Windows takes for the serial device wherever it stands). It only
// grows, until it is cut back to its header once everything in it has reached
// the data files. Every number is little-endian.
//
// Header, written when the file is made and again at every cut:
//   "QVJ1"          4 bytes, the format
//   epoch           uint32, one more at every cut
//   port number     uint32, the n of [COMn]
//   name length     uint32, then that many bytes: the port's InstrumentType
//   check           uint32, CRC-32 of everything above
// Records follow the header, one after another:
//   payload length  uint32
//   kind            1 byte: 'T' received text, 'I' write intent, 'D' span done,
//                   'U' the write of the latest intent failed and was undone
//   reserved        3 zero bytes
//   time            int64, UTC milliseconds since 1970: when the text was
//                   received ('T'), when the record was made (others)
//   check           uint32, CRC-32 of the epoch, the 16 bytes above and the payload
//   payload         'T': the bytes as received, at most 64 KiB a record;
//                   'I': span begin, span end, length of the data file before
//                        the write, bytes the write adds (uint64 each), CRC-32
//                        of those bytes, 1 if the write creates the file
//                        (uint32 each), then the data file's name;
//                   'D', 'U': span begin, span end (uint64 each).
// A span is a range of offsets in the file; it holds the 'T' records that
// begin inside it.
//
// A record counts only when its check holds under the header's epoch, and
// reading stops at the first one that does not: a power cut in the middle of
// a write leaves a torn tail that cannot pass for a record. A cut writes a
// new epoch, so nothing that a cut leaves behind the new end can pass either.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/durable_file.h"

// The folder of the journals in the output directory.
inline constexpr char kJournalFolder[] = "journal";
std::string JournalFolderPath(const char* directory);

namespace journal {

inline constexpr size_t kRecordHeaderSize = 20;
inline constexpr size_t kMaxTextRecord = 64 * 1024;  // longer appends take several records
inline constexpr size_t kMaxPayload = 1 << 20;       // anything longer is a damaged length
inline constexpr size_t kMaxInstrumentName = 499;

enum class RecordKind : uint8_t { kText = 'T', kIntent = 'I', kDone = 'D', kUndone = 'U' };

struct Span {
    uint64_t begin = 0;
    uint64_t end = 0;
    bool empty() const { return end <= begin; }
    bool Holds(uint64_t offset) const { return offset >= begin && offset < end; }
};
inline bool operator==(const Span& a, const Span& b) {
    return a.begin == b.begin && a.end == b.end;
}

struct Header {
    uint32_t epoch = 1;
    int port_number = 0;
    std::string instrument;
};

// What a data-file write is about to do, recorded before it starts, so that a
// restart can tell from the file's length whether it happened.
struct WriteIntent {
    Span span;  // the text it writes
    uint64_t length_before = 0;
    uint64_t bytes_to_add = 0;
    uint32_t crc = 0;  // of the bytes it adds, as they lie in the file
    bool creates_file = false;
    std::string file_name;  // in the output directory
};

// CRC-32 (IEEE 802.3), continued from `crc` (0 to start).
uint32_t Crc32(uint32_t crc, const void* data, size_t size);
// CRC-32 of `count` bytes of the file `path` from `offset`; nothing when the
// file holds fewer.
std::optional<uint32_t> CrcOfRange(const std::string& path, uint64_t offset, uint64_t count);

std::string EncodeHeader(const Header& header);
std::string EncodeRecord(uint32_t epoch, RecordKind kind, int64_t time_ms,
                         std::string_view payload);
std::string EncodeIntent(const WriteIntent& intent);
std::string EncodeSpan(const Span& span);
bool DecodeIntent(std::string_view payload, WriteIntent& intent);
bool DecodeSpan(std::string_view payload, Span& span);

struct Record {
    RecordKind kind = RecordKind::kText;
    int64_t time_ms = 0;
    uint64_t offset = 0;  // where the record begins
    uint64_t end = 0;     // where the next one begins
    std::string payload;
};

// Reads a journal front to back in bounded pieces (one record, at most 1 MiB,
// at a time), from the header or from any record's offset.
class Reader {
public:
    explicit Reader(platform::ReadableAt& file) : file_(file) {}
    // Reads the header; false when the file holds none that checks.
    bool ReadHeader(Header& header);
    // Continues at `offset` (a record's beginning) under `epoch`.
    void Seek(uint32_t epoch, uint64_t offset);
    // The next record; false at the end or at the first that does not check.
    bool Next(Record& record);
    // Where reading stopped: the end of the last record that checked.
    uint64_t position() const { return position_; }

private:
    // Makes `size` bytes from `offset` available in buffer_; false at the end.
    bool Fill(uint64_t offset, size_t size);
    const char* At(uint64_t offset) const { return buffer_.data() + (offset - buffer_offset_); }

    platform::ReadableAt& file_;
    uint32_t epoch_ = 0;
    uint64_t position_ = 0;
    std::vector<char> buffer_;
    uint64_t buffer_offset_ = 0;
};

}  // namespace journal
