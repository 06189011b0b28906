#include "acquisition/journal_file.h"

#include <array>
#include <cstring>
#include <fstream>
#include <vector>

#include "platform/files.h"

std::string JournalFolderPath(const char* directory) {
    return platform::JoinPath(directory, kJournalFolder);
}

namespace journal {
namespace {

constexpr char kMagic[4] = {'Q', 'V', 'J', '1'};
constexpr size_t kReadAhead = 64 * 1024;

// Slicing-by-8 tables of the reflected polynomial 0xEDB88320.
struct CrcTables {
    std::array<std::array<uint32_t, 256>, 8> t{};
    constexpr CrcTables() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) {
                c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            }
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i) {
            for (size_t s = 1; s < 8; ++s) {
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFFu];
            }
        }
    }
};
constexpr CrcTables kCrc;

void PutU32(std::string& out, uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}
void PutU64(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i) {
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xFFu));
    }
}
uint32_t GetU32(const char* p) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(p[i]);
    }
    return value;
}
uint64_t GetU64(const char* p) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = (value << 8) | static_cast<unsigned char>(p[i]);
    }
    return value;
}

// The check of a record: its epoch, the 16 bytes before the check, the payload.
uint32_t RecordCheck(uint32_t epoch, const char* head, std::string_view payload) {
    std::string seed;
    PutU32(seed, epoch);
    uint32_t crc = Crc32(0, seed.data(), seed.size());
    crc = Crc32(crc, head, 16);
    return Crc32(crc, payload.data(), payload.size());
}

}  // namespace

uint32_t Crc32(uint32_t crc, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    uint32_t c = ~crc;
    while (size >= 8) {
        const uint32_t lo = c ^ (uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 |
                                 uint32_t{p[3]} << 24);
        const uint32_t hi =
            uint32_t{p[4]} | uint32_t{p[5]} << 8 | uint32_t{p[6]} << 16 | uint32_t{p[7]} << 24;
        c = kCrc.t[7][lo & 0xFFu] ^ kCrc.t[6][(lo >> 8) & 0xFFu] ^ kCrc.t[5][(lo >> 16) & 0xFFu] ^
            kCrc.t[4][lo >> 24] ^ kCrc.t[3][hi & 0xFFu] ^ kCrc.t[2][(hi >> 8) & 0xFFu] ^
            kCrc.t[1][(hi >> 16) & 0xFFu] ^ kCrc.t[0][hi >> 24];
        p += 8;
        size -= 8;
    }
    while (size-- > 0) {
        c = kCrc.t[0][(c ^ *p++) & 0xFFu] ^ (c >> 8);
    }
    return ~c;
}

std::string EncodeHeader(const Header& header) {
    std::string out(kMagic, sizeof kMagic);
    PutU32(out, header.epoch);
    PutU32(out, static_cast<uint32_t>(header.port_number));
    const std::string_view name = std::string_view(header.instrument).substr(0, kMaxInstrumentName);
    PutU32(out, static_cast<uint32_t>(name.size()));
    out.append(name);
    PutU32(out, Crc32(0, out.data(), out.size()));
    return out;
}

std::string EncodeRecord(uint32_t epoch, RecordKind kind, int64_t time_ms,
                         std::string_view payload) {
    std::string out;
    out.reserve(kRecordHeaderSize + payload.size());
    PutU32(out, static_cast<uint32_t>(payload.size()));
    out.push_back(static_cast<char>(kind));
    out.append(3, '\0');
    PutU64(out, static_cast<uint64_t>(time_ms));
    PutU32(out, RecordCheck(epoch, out.data(), payload));
    out.append(payload);
    return out;
}

std::string EncodeIntent(const WriteIntent& intent) {
    std::string out;
    PutU64(out, intent.span.begin);
    PutU64(out, intent.span.end);
    PutU64(out, intent.length_before);
    PutU64(out, intent.bytes_to_add);
    PutU32(out, intent.crc);
    PutU32(out, intent.creates_file ? 1u : 0u);
    out += intent.file_name;
    return out;
}

std::string EncodeSpan(const Span& span) {
    std::string out;
    PutU64(out, span.begin);
    PutU64(out, span.end);
    return out;
}

bool DecodeIntent(std::string_view payload, WriteIntent& intent) {
    if (payload.size() < 40) {
        return false;
    }
    const char* p = payload.data();
    intent.span = {GetU64(p), GetU64(p + 8)};
    intent.length_before = GetU64(p + 16);
    intent.bytes_to_add = GetU64(p + 24);
    intent.crc = GetU32(p + 32);
    intent.creates_file = GetU32(p + 36) != 0;
    intent.file_name.assign(payload.substr(40));
    return true;
}

bool DecodeSpan(std::string_view payload, Span& span) {
    if (payload.size() != 16) {
        return false;
    }
    span = {GetU64(payload.data()), GetU64(payload.data() + 8)};
    return true;
}

bool Reader::Fill(uint64_t offset, size_t size) {
    if (offset >= buffer_offset_ && offset + size <= buffer_offset_ + buffer_.size()) {
        return true;
    }
    buffer_.resize(size > kReadAhead ? size : kReadAhead);
    size_t got = 0;
    while (got < buffer_.size()) {
        const int64_t n = file_.ReadAt(offset + got, buffer_.data() + got, buffer_.size() - got);
        if (n <= 0) {
            break;
        }
        got += static_cast<size_t>(n);
    }
    buffer_.resize(got);
    buffer_offset_ = offset;
    return got >= size;
}

bool Reader::ReadHeader(Header& header) {
    buffer_.clear();
    buffer_offset_ = 0;
    if (!Fill(0, 16) || std::memcmp(At(0), kMagic, sizeof kMagic) != 0) {
        return false;
    }
    const uint32_t name_length = GetU32(At(12));
    if (name_length > kMaxInstrumentName || !Fill(0, 16 + name_length + 4)) {
        return false;
    }
    const size_t checked = 16 + name_length;
    if (Crc32(0, At(0), checked) != GetU32(At(checked))) {
        return false;
    }
    header.epoch = GetU32(At(4));
    header.port_number = static_cast<int>(GetU32(At(8)));
    header.instrument.assign(At(16), name_length);
    Seek(header.epoch, checked + 4);
    return true;
}

void Reader::Seek(uint32_t epoch, uint64_t offset) {
    epoch_ = epoch;
    position_ = offset;
}

bool Reader::Next(Record& record) {
    if (!Fill(position_, kRecordHeaderSize)) {
        return false;
    }
    const char* head = At(position_);
    const uint32_t length = GetU32(head);
    const auto kind = static_cast<RecordKind>(static_cast<unsigned char>(head[4]));
    const bool known = kind == RecordKind::kText || kind == RecordKind::kIntent ||
                       kind == RecordKind::kDone || kind == RecordKind::kUndone;
    if (!known || length > kMaxPayload || head[5] != 0 || head[6] != 0 || head[7] != 0) {
        return false;
    }
    const uint32_t check = GetU32(head + 16);
    char fixed[16];
    std::memcpy(fixed, head, sizeof fixed);
    if (!Fill(position_, kRecordHeaderSize + length)) {
        return false;
    }
    const std::string_view payload(At(position_ + kRecordHeaderSize), length);
    if (RecordCheck(epoch_, fixed, payload) != check) {
        return false;
    }
    record.kind = kind;
    record.time_ms = static_cast<int64_t>(GetU64(fixed + 8));
    record.offset = position_;
    record.end = position_ + kRecordHeaderSize + length;
    record.payload.assign(payload);
    position_ = record.end;
    return true;
}

std::optional<uint32_t> CrcOfRange(const std::string& path, uint64_t offset, uint64_t count) {
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    if (!in) {
        return std::nullopt;
    }
    std::vector<char> chunk(64 * 1024);
    uint32_t crc = 0;
    while (count > 0) {
        const auto want = static_cast<std::streamsize>(count < chunk.size() ? count : chunk.size());
        in.read(chunk.data(), want);
        if (in.gcount() != want) {
            return std::nullopt;
        }
        crc = journal::Crc32(crc, chunk.data(), static_cast<size_t>(want));
        count -= static_cast<uint64_t>(want);
    }
    return crc;
}

}  // namespace journal
