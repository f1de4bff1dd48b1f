// A WV5 encoder of ours: a run-by-run builder for exact test files, and a
// lossy encoder from PCM samples that picks the nearest step for each one.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>

#include "core/bytes.h"

namespace vid::kit {

class Wv5Builder {
public:
    Wv5Builder(std::uint16_t channels, std::uint32_t rate) : channels_(channels), rate_(rate) {}

    Wv5Builder& run0(std::span<const std::uint8_t> codes);  // up to 255 codes
    Wv5Builder& run0(std::initializer_list<std::uint8_t> codes) {
        return run0(std::span<const std::uint8_t>(codes.begin(), codes.size()));
    }
    Wv5Builder& run1(std::span<const std::uint8_t> codes);  // exactly 256 codes
    Wv5Builder& run3(std::uint16_t count, std::uint8_t code);
    Wv5Builder& repeat(std::uint8_t kind, std::uint8_t code);  // kind 2 or 4 to 255
    // Bytes as they stand, counted as one run (for damaged files).
    Wv5Builder& raw_run(ByteView bytes);

    std::uint64_t samples() const { return samples_; }
    int runs() const { return runs_; }

    // The file. The frame count is samples per channel unless `frames`
    // gives another; the run count is the number of runs added unless
    // `runs` gives another.
    Bytes finish(std::optional<std::uint32_t> frames = std::nullopt,
                 std::optional<std::int32_t> runs = std::nullopt) const;

private:
    std::uint16_t channels_;
    std::uint32_t rate_;
    Bytes body_;
    std::uint64_t samples_ = 0;
    int runs_ = 0;
};

// The codes that follow `samples` (interleaved for two channels) as
// closely as the step table allows.
Bytes wv5_codes(std::span<const std::int16_t> samples, bool two_channels);

// Packs codes into runs: equal codes in a row become kind 3 or kind k
// runs, the others kind 1 (256 codes) or kind 0 runs.
void wv5_pack(Wv5Builder& b, ByteView codes);

// A whole WV5 file for `samples`.
Bytes wv5_encode(std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate);

}  // namespace vid::kit
