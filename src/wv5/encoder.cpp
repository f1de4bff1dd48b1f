#include "wv5/encoder.h"

#include <algorithm>
#include <array>

#include "wv5/wv5.h"

namespace vid::wv5 {

namespace {

// The 255 different steps (code 128 is a second zero step and never
// chosen), in increasing order as 16-bit values, and for every 16-bit
// change the place of the first step at or above it.
struct StepOrder {
    std::array<std::uint16_t, 255> step{};
    std::array<std::uint8_t, 255> code{};
    std::array<std::uint8_t, 65536> lower{};
};

const StepOrder& step_order() {
    static const StepOrder order = [] {
        StepOrder o;
        std::array<std::uint8_t, 255> codes{};
        std::size_t n = 0;
        for (unsigned c = 0; c < 256; ++c)
            if (c != 128) codes[n++] = static_cast<std::uint8_t>(c);
        std::sort(codes.begin(), codes.end(), [](std::uint8_t a, std::uint8_t b) { return step_of(a) < step_of(b); });
        for (std::size_t i = 0; i < codes.size(); ++i) {
            o.code[i] = codes[i];
            o.step[i] = step_of(codes[i]);
        }
        std::size_t at = 0;
        for (std::size_t d = 0; d < 65536; ++d) {
            while (at < o.step.size() && o.step[at] < d) ++at;
            o.lower[d] = static_cast<std::uint8_t>(at % o.step.size());
        }
        return o;
    }();
    return order;
}

// Path costs are kept below 2^38 (more than 60 samples of the largest
// error, relative to the best path), so that a child's cost, value and
// origin fit one 64-bit key.
constexpr std::uint64_t kMaxCost = (std::uint64_t{1} << 38) - 1;

}  // namespace

ChannelSearch::ChannelSearch(std::size_t beam)
    : beam_(std::clamp<std::size_t>(beam, 1, 256)), parent_(2 * kDelay * beam_), code_(2 * kDelay * beam_) {
    states_.reserve(beam_);
    next_.reserve(beam_);
    states_.push_back({0, 0});
}

void ChannelSearch::push(std::int16_t sample, Bytes& out) {
    const StepOrder& o = step_order();
    constexpr std::size_t kOrder = 255;
    // Each child as one sortable key: its cost, then its value, then where
    // it came from (state and candidate), so that equal costs order by value.
    std::uint64_t keys[256 * kCandidates];
    std::uint8_t codes_of[256 * kCandidates];
    std::size_t m = 0;
    for (std::size_t i = 0; i < states_.size(); ++i) {
        const State s = states_[i];
        const auto want = static_cast<std::uint16_t>(sample - s.value);
        const std::size_t lo = o.lower[want];
        for (std::size_t k = 0; k < kCandidates; ++k) {
            // The step below the change wanted, the nearest at or above it and the next.
            const std::size_t at = (lo + kOrder + k - kCandidates / 2) % kOrder;
            const auto value = static_cast<std::uint16_t>(s.value + o.step[at]);
            const std::int64_t e = static_cast<std::int16_t>(value) - sample;
            const std::uint64_t cost = std::min(s.cost + static_cast<std::uint64_t>(e * e), kMaxCost);
            keys[m] = cost << 26 | std::uint64_t{value} << 10 | m;
            codes_of[m] = o.code[at];
            ++m;
        }
    }
    // Only the best ones need an order: values reached twice make a few
    // more than beam_ necessary, rarely more than twice as many.
    std::size_t sorted = std::min(m, 2 * beam_);
    std::nth_element(keys, keys + sorted - 1, keys + m);
    std::sort(keys, keys + sorted);
    // The best path to each value, for the best beam_ values.
    next_.clear();
    std::uint8_t* parents = &parent_[pending_ * beam_];
    std::uint8_t* codes = &code_[pending_ * beam_];
    for (std::size_t j = 0; j < m && next_.size() < beam_; ++j) {
        if (j == sorted) {
            std::sort(keys + sorted, keys + m);
            sorted = m;
        }
        const auto value = static_cast<std::uint16_t>(keys[j] >> 10);
        if (std::any_of(next_.begin(), next_.end(), [&](const State& s) { return s.value == value; })) continue;
        const std::size_t child = keys[j] & 1023u;
        parents[next_.size()] = static_cast<std::uint8_t>(child / kCandidates);
        codes[next_.size()] = codes_of[child];
        next_.push_back({value, keys[j] >> 26});
    }
    // Costs relative to the best, so that they never grow without bound.
    const std::uint64_t best = next_.front().cost;
    for (State& s : next_) s.cost -= best;
    std::swap(states_, next_);
    if (++pending_ == 2 * kDelay) commit(kDelay, out);
}

void ChannelSearch::finish(Bytes& out) {
    if (pending_ > 0) commit(pending_, out);
}

void ChannelSearch::commit(std::size_t count, Bytes& out) {
    // The best path, back from the best state (the first).
    std::uint8_t node[2 * kDelay];
    std::uint8_t path[2 * kDelay];
    std::size_t at = 0;
    for (std::size_t t = pending_; t-- > 0;) {
        node[t] = static_cast<std::uint8_t>(at);
        path[t] = code_[t * beam_ + at];
        at = parent_[t * beam_ + at];
    }
    out.insert(out.end(), path, path + count);
    if (count < pending_) {
        // Only the states whose paths pass through the committed codes stay.
        const std::size_t last = pending_ - 1;
        std::size_t kept = 0;
        for (std::size_t i = 0; i < states_.size(); ++i) {
            std::size_t a = i;
            for (std::size_t t = last; t >= count; --t) a = parent_[t * beam_ + a];
            if (a != node[count - 1]) continue;
            states_[kept] = states_[i];
            parent_[last * beam_ + kept] = parent_[last * beam_ + i];
            code_[last * beam_ + kept] = code_[last * beam_ + i];
            ++kept;
        }
        states_.resize(kept);
        std::copy(parent_.begin() + static_cast<std::ptrdiff_t>(count * beam_),
                  parent_.begin() + static_cast<std::ptrdiff_t>(pending_ * beam_), parent_.begin());
        std::copy(code_.begin() + static_cast<std::ptrdiff_t>(count * beam_),
                  code_.begin() + static_cast<std::ptrdiff_t>(pending_ * beam_), code_.begin());
    }
    pending_ -= count;
}

CodeStream::CodeStream(bool two_channels, std::size_t beam)
    : two_(two_channels), search_{ChannelSearch(beam), ChannelSearch(beam)} {}

void CodeStream::push(std::span<const std::int16_t> samples, Bytes& out) {
    if (!two_) {
        for (std::int16_t s : samples) search_[0].push(s, out);
        return;
    }
    for (std::int16_t s : samples) {
        search_[next_].push(s, codes_[next_]);
        if (next_ == 1) interleave(out);
        next_ ^= 1u;
    }
}

void CodeStream::finish(Bytes& out) {
    search_[0].finish(two_ ? codes_[0] : out);
    if (two_) {
        search_[1].finish(codes_[1]);
        interleave(out);
        // The first channel's sample of a last, incomplete frame.
        out.insert(out.end(), codes_[0].begin(), codes_[0].end());
        codes_[0].clear();
    }
}

void CodeStream::interleave(Bytes& out) {
    // The codes of whole frames: the first channel may be a code ahead.
    const std::size_t n = std::min(codes_[0].size(), codes_[1].size());
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(codes_[0][i]);
        out.push_back(codes_[1][i]);
    }
    codes_[0].erase(codes_[0].begin(), codes_[0].begin() + static_cast<std::ptrdiff_t>(n));
    codes_[1].erase(codes_[1].begin(), codes_[1].begin() + static_cast<std::ptrdiff_t>(n));
}

}  // namespace vid::wv5
