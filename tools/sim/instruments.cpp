#include "instruments.h"

#include <cstdio>

namespace sim {

namespace {

// A small deterministic mix of the seed and the record number.
uint32_t Mix(uint32_t seed, uint64_t n) {
    uint64_t x = (n + 1) * 0x9E3779B97F4A7C15ull ^ seed;
    x ^= x >> 31;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 29;
    return static_cast<uint32_t>(x);
}

std::string Fields(int count, const char* separator) {
    std::string text;
    for (int i = 0; i < count; ++i) {
        char field[32];
        std::snprintf(field, sizeof field, "%s%d.%03d", i == 0 ? "" : separator, 10 + i * 7,
                      (i * 137) % 1000);
        text += field;
    }
    return text;
}

}  // namespace

std::string NumericInstrument::Record(uint64_t n) const {
    const uint32_t r = Mix(shape_.seed, n);
    int fields = shape_.fields;
    if (shape_.short_every > 0 && (n + 1) % static_cast<uint64_t>(shape_.short_every) == 0) {
        fields = fields / 2;
    }
    std::string text;
    for (int i = 0; i < fields; ++i) {
        const uint32_t v = Mix(r, static_cast<uint64_t>(i));
        char field[32];
        std::snprintf(field, sizeof field, "%s%s%u.%02u", i == 0 ? "" : " ", (v & 1) ? "-" : "",
                      (v >> 1) % 1000, (v >> 11) % 100);
        text += field;
    }
    if (shape_.garble_every > 0 && (n + 1) % static_cast<uint64_t>(shape_.garble_every) == 0) {
        text.insert(text.size() / 2, 1, '\x07');
    }
    return text + shape_.terminator;
}

std::string Hygrometer::HumidityConstants() {
    return Fields(7, " ");
}

std::string Hygrometer::EngineeringConstants() {
    return Fields(18, " ");
}

std::string Hygrometer::Reply(char command) const {
    if (mode_ == HygrometerMode::kSilent) {
        return {};
    }
    const char* separator = mode_ == HygrometerMode::kGarbled ? "\t" : " ";
    switch (command) {
        case '5':
            return Fields(7, separator) + "\r";
        case '0':
            return Fields(18, separator) + "\r";
        default:
            return {};
    }
}

}  // namespace sim
