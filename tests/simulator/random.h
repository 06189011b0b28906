// The simulator's only source of chance: SplitMix64, so that a seed gives the
// same schedule on every machine and with every standard library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace simulation {

class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}

    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // 0 .. bound - 1 (bound > 0).
    uint64_t Below(uint64_t bound) { return Next() % bound; }
    // low .. high, both included.
    int64_t Between(int64_t low, int64_t high) {
        return low + static_cast<int64_t>(Below(static_cast<uint64_t>(high - low) + 1));
    }
    // True `percent` times in a hundred.
    bool Percent(int percent) { return Below(100) < static_cast<uint64_t>(percent); }
    // An independent stream, for decisions that must not depend on how many
    // others were drawn before them.
    Random Fork(uint64_t salt) { return Random(Next() ^ (salt * 0xD6E8FEB86659FD93ull)); }

private:
    uint64_t state_;
};

}  // namespace simulation
