// Choosing the delta codes of a sound.
//
// Each code moves its channel by one step of the table, so a sound that
// changes faster than the steps allow cannot be followed exactly. The
// search keeps, for each channel, the best few values the decoder can have
// reached (a beam over the reachable values, each with the summed squared
// error of its path, paths that reach the same value merged), tries the
// codes nearest to the next sample from each, and commits a code only once
// the paths behind it are a window old. So a jump is approached by the
// path that is best over the window, not by the nearest step at each
// sample; and a sound the codes can follow exactly (every change a step of
// the table) keeps its zero-error path and comes back sample for sample.
// The arithmetic wraps at 16 bits as the decoder's does, and the search
// may use the wrap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/bytes.h"

namespace vid::wv5 {

// The search for one channel.
class ChannelSearch {
public:
    static constexpr std::size_t kBeam = 16;       // values kept per sample
    static constexpr std::size_t kCandidates = 3;  // codes tried from each value
    static constexpr std::size_t kDelay = 64;      // samples before a code is committed

    explicit ChannelSearch(std::size_t beam = kBeam);

    // Takes the next sample; appends the codes it commits (none, or a
    // block of them) to `out`.
    void push(std::int16_t sample, Bytes& out);
    // Appends the codes of every sample still pending.
    void finish(Bytes& out);

private:
    struct State {
        std::uint16_t value;
        std::uint64_t cost;
    };
    void commit(std::size_t count, Bytes& out);

    std::size_t beam_;
    std::vector<State> states_;
    std::vector<State> next_;
    // For each pending sample and each state after it: the state before
    // it and the code that led there.
    std::vector<std::uint8_t> parent_;
    std::vector<std::uint8_t> code_;
    std::size_t pending_ = 0;
};

// The codes of interleaved samples: one search per channel, the codes
// handed out in the decoder's order (for two channels, first channel,
// second, first, ...).
class CodeStream {
public:
    explicit CodeStream(bool two_channels, std::size_t beam = ChannelSearch::kBeam);
    // Takes samples (any number; the channels alternate across calls);
    // appends the codes that are ready.
    void push(std::span<const std::int16_t> samples, Bytes& out);
    void finish(Bytes& out);

private:
    void interleave(Bytes& out);

    bool two_;
    unsigned next_ = 0;  // the channel of the next sample
    ChannelSearch search_[2];
    Bytes codes_[2];
};

}  // namespace vid::wv5
