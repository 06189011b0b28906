// The Ophir hygrometer's constants exchange: '9' (quiet), '5' (7 fields),
// '0' (18 fields), 'a' (resume), with entries 25 to 27 in the log.
#include "instruments/ophir.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "instruments/record_tests.h"
#include "log/log_codes.h"
#include "log/log_file.h"

namespace {

constexpr uint32_t kBufferSize = 300;
constexpr int kReplyTerminator = 13;
constexpr int kReplyTimeoutMs = 5000;
constexpr int kAttempts = 3;

std::unique_ptr<char[]> ZeroedBuffer(size_t size) {
    return std::unique_ptr<char[]>(new (std::nothrow) char[size]());
}

// The fields of a reply as strtok with the delimiter " " finds them: runs of
// characters other than a blank (tabs and LF belong to a field).
int CountFields(const char* text) {
    int fields = 0;
    bool inField = false;
    for (; *text != '\0'; ++text) {
        const bool blank = *text == ' ';
        if (!blank && !inField) {
            ++fields;
        }
        inField = !blank;
    }
    return fields;
}

}  // namespace

int OphirQuery(PortRecord* port, char* reply, uint32_t size, char command, int expected,
               int limit) {
    int tries = 0;
    int fields = 0;
    while (fields != expected && tries < limit) {
        ++tries;
        fields = 0;
        reply[0] = '\0';
        port->WriteByte(port, command);
        const int result = PortReadString(port, reply, size, kReplyTerminator, kReplyTimeoutMs);
        if (result == PORT_OK && !IsPrintableRecord(reply)) {
            ++tries;  // a garbled reply costs a second try and is not counted
            continue;
        }
        // Also a reply cut off by the time-out, or read while Status held an
        // earlier code, counts: only its number of fields is judged.
        fields = CountFields(reply);
    }
    return fields == expected ? 1 : 0;
}

void GetOphirConstants(PortRecord* port, const char* directory, int com_number, char* header,
                       platform::SystemTime* time) {
    auto message = ZeroedBuffer(kBufferSize);
    auto humidity = ZeroedBuffer(kBufferSize);
    auto engineering = ZeroedBuffer(kBufferSize);
    if (!message || !humidity || !engineering) {
        WriteLogMessage(directory, logmsg::k25OphirMemory);
        return;
    }
    port->WriteByte(port, '9');
    PortDrainInput(port);
    WriteLogMessage(directory, logmsg::k26OphirAcquiring);

    bool ok = OphirQuery(port, humidity.get(), kBufferSize, '5', 7, kAttempts) == 1;
    if (ok) {
        ok = OphirQuery(port, engineering.get(), kBufferSize, '0', 18, kAttempts) == 1;
    }
    if (ok) {
        const size_t first = std::strlen(engineering.get());
        std::memcpy(header, engineering.get(), first);
        std::strcpy(header + first, humidity.get());
    } else {
        std::snprintf(message.get(), kBufferSize, logmsg::k27OphirError, com_number);
        WriteLogMessage(directory, message.get());
    }
    message.reset();
    humidity.reset();
    engineering.reset();

    port->WriteByte(port, 'a');
    *time = platform::UtcNow();
}
