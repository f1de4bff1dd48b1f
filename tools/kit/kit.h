// Makers of test and sample data: encoders of our own for the game's
// formats, used by the unit tests, the fuzz seeds, the benchmarks and the
// sample generator. Nothing here is part of the program.
#pragma once

#include <cstdint>
#include <string>

#include "core/bytes.h"

namespace vid::kit {

// A deterministic pseudo-random source (xorshift64*), the same bytes on
// every machine for the same seed.
class Rng {
public:
    explicit Rng(std::uint64_t seed) : state_(seed ? seed : 0x9E3779B97F4A7C15ull) {}
    std::uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }
    // A value in [0, n).
    std::uint32_t below(std::uint32_t n) { return n ? static_cast<std::uint32_t>(next() % n) : 0; }
    std::uint8_t byte() { return static_cast<std::uint8_t>(next() >> 56); }

private:
    std::uint64_t state_;
};

}  // namespace vid::kit
