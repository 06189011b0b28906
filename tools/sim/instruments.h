// What the simulated instruments say: numeric records of a chosen shape, and
// the replies of an infrared hygrometer to its command characters.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace sim {

struct RecordShape {
    int fields = 5;  // numbers per record
    std::string terminator = "\r\n";
    int garble_every = 0;  // every n-th record carries a control byte (0: never)
    int short_every = 0;   // every n-th record lacks its last fields (0: never)
    uint32_t seed = 1;
};

// A line-oriented numeric instrument: record n (from 0) is a function of the
// shape and n alone, so a test can rebuild what was sent.
class NumericInstrument {
public:
    explicit NumericInstrument(RecordShape shape) : shape_(std::move(shape)) {}
    std::string Record(uint64_t n) const;

private:
    RecordShape shape_;
};

enum class HygrometerMode {
    kNormal,   // answers '5' with 7 fields and '0' with 18
    kSilent,   // answers nothing
    kGarbled,  // answers with a tab between the fields (fails the printable test)
};

// The hygrometer's side of the constants exchange: '9' and 'a' get no answer,
// '5' one CR-terminated line of 7 blank-separated fields, '0' one of 18.
class Hygrometer {
public:
    explicit Hygrometer(HygrometerMode mode = HygrometerMode::kNormal) : mode_(mode) {}
    // The reply to one command character ("" for none).
    std::string Reply(char command) const;

    static std::string HumidityConstants();     // the '5' reply without its CR
    static std::string EngineeringConstants();  // the '0' reply without its CR

private:
    HygrometerMode mode_;
};

}  // namespace sim
