// LZSS compression with an optimal parse.
//
// Output byte o goes to window position (4078 + o) mod 4096, so a match
// that copies from D bytes back (1 to 4096) names window position
// (4078 + o - D) mod 4096; before the first output byte the window holds
// zeros. The compressor sees the data as if 4096 zeros came before them
// ("virtual" positions: data byte d is virtual position 4096 + d).
//
// Every item costs the same whatever its contents: a literal 9 bits, a
// match 17 (flag bit included), and the stream's size is those bits
// rounded up to whole bytes. So the cheapest parse needs, at every
// position, only the longest match there (any shorter length is a prefix
// of it): the match finder finds that exactly, and a shortest-path pass
// over each chunk picks the items. Chunks end where the longest-match
// parse also stops, so each chunk costs at most what that parse spends on
// it, and the whole stream is never larger.
#include "bm2/lzss_encode.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kOffset = kWindowSize;          // virtual position of data byte 0
constexpr std::size_t kSplit = 2 * kWindowSize;       // from here on, every source lies in the data
constexpr std::size_t kDeepZero = kWindowStart;       // 4078: has 18 zeros ahead of it
constexpr std::size_t kChunk = 64 * 1024;             // positions per shortest-path pass
constexpr std::int32_t kNone = -1;
constexpr std::uint32_t kLiteralBits = 9;
constexpr std::uint32_t kMatchBits = 17;

struct Match {
    std::uint16_t dist = 0;  // 1 to 4096
    std::uint8_t len = 0;    // 0 when no match of 3 bytes or more
};

// How many of the 18 bytes at `a` and `b` agree, from `len` on (the first
// `len` are known to agree); 8 bytes at a time.
inline std::size_t common(const std::uint8_t* a, const std::uint8_t* b, std::size_t len) {
    while (len + 8 <= kMaxMatch) {
        std::uint64_t x, y;
        std::memcpy(&x, a + len, 8);
        std::memcpy(&y, b + len, 8);
        if (x != y) {
            if constexpr (std::endian::native == std::endian::little)
                return len + static_cast<std::size_t>(std::countr_zero(x ^ y)) / 8;
            while (a[len] == b[len]) ++len;
            return len;
        }
        len += 8;
    }
    while (len < kMaxMatch && a[len] == b[len]) ++len;
    return len;
}

// Finds the longest match at each data position in turn. The positions
// of the last 4096 bytes that begin with the same two bytes form a binary
// search tree ordered by their next 18 bytes, newest at the root (so that
// everything below a node is older than it). Inserting the current position
// walks down the tree and passes both of its neighbours in that order, one
// of which shares the longest prefix with it: the longest match is exact.
// A node whose 18 bytes equal the new ones is replaced by it. The window's
// leading zeros take part through position 4078 and the 17 after it: every
// earlier zero position offers the same bytes (18 zeros) from farther
// back. The last 17 positions, too short for the tree, are searched
// directly.
class Finder {
public:
    explicit Finder(ByteView data) : data_(data) {
        head_.fill(kNone);
        const std::size_t ahead = std::min(data.size(), kWindowSize + kMaxMatch);
        if (ahead > 0) std::memcpy(start_.data() + kOffset, data.data(), ahead);
        if (data.size() >= kMaxMatch)
            for (std::size_t v = kDeepZero; v < kOffset; ++v) insert(v, v + 1);
    }

    // The longest match at data position `d`; adds `d` to the tree. Call
    // for d = 0, 1, 2... in order.
    Match find(std::size_t d) {
        const std::size_t cur = d + kOffset;
        if (data_.size() - d < kMaxMatch) return search(d);
        return insert(cur, cur);
    }

private:
    static constexpr std::size_t kSlots = 2 * kWindowSize;  // more than the window: no live node is overwritten

    // The bytes from virtual position `v`, seen from the current position
    // `cur`: at first from the copy of the start behind its zeros, later
    // from the data themselves.
    const std::uint8_t* at(std::size_t v, std::size_t cur) const {
        return cur < kSplit ? start_.data() + v : data_.data() + (v - kOffset);
    }

    // Inserts virtual position `cur` (18 bytes ahead of it known), looking
    // at nodes up to 4096 back from `now`; returns the longest match found.
    Match insert(std::size_t cur, std::size_t now) {
        const std::uint8_t* s = at(cur, now);
        const std::size_t key = s[0] | (std::size_t{s[1]} << 8);
        std::int32_t c = head_[key];
        head_[key] = static_cast<std::int32_t>(cur);
        std::int32_t* smaller = &son_[2 * (cur & (kSlots - 1))];     // where the next smaller node goes
        std::int32_t* larger = &son_[2 * (cur & (kSlots - 1)) + 1];  // where the next larger node goes
        std::size_t len_smaller = 0, len_larger = 0, best_len = 0;
        Match best;
        for (;;) {
            if (c == kNone || now - static_cast<std::size_t>(c) > kWindowSize ||
                cur - static_cast<std::size_t>(c) > kWindowSize) {
                *smaller = *larger = kNone;
                break;
            }
            const auto node = static_cast<std::size_t>(c);
            std::int32_t* pair = &son_[2 * (node & (kSlots - 1))];
            const std::uint8_t* t = at(node, now);
            const std::size_t len = common(t, s, std::min(len_smaller, len_larger));
            if (len > best_len) {
                best_len = len;
                best.dist = static_cast<std::uint16_t>(cur - node);
            }
            if (len == kMaxMatch) {  // the same 18 bytes: the new node takes its place
                *smaller = pair[0];
                *larger = pair[1];
                break;
            }
            if (t[len] < s[len]) {
                *smaller = c;
                smaller = &pair[1];
                c = *smaller;
                len_smaller = len;
            } else {
                *larger = c;
                larger = &pair[0];
                c = *larger;
                len_larger = len;
            }
        }
        if (best_len >= kMinMatch) best.len = static_cast<std::uint8_t>(best_len);
        return best;
    }

    // Every source from 1 to 4096 back, for the last positions.
    Match search(std::size_t d) const {
        const std::size_t cur = d + kOffset;
        const std::size_t limit = data_.size() - d;
        const std::uint8_t* s = at(cur, cur);
        Match best;
        std::size_t best_len = 0;
        for (std::size_t dist = 1; dist <= kWindowSize && best_len < limit; ++dist) {
            const std::uint8_t* t = at(cur - dist, cur);
            std::size_t len = 0;
            while (len < limit && t[len] == s[len]) ++len;
            if (len > best_len) {
                best_len = len;
                best.dist = static_cast<std::uint16_t>(dist);
            }
        }
        if (best_len >= kMinMatch) best.len = static_cast<std::uint8_t>(best_len);
        return best;
    }

    ByteView data_;
    std::array<std::uint8_t, kSplit + kMaxMatch> start_{};  // 4096 zeros, then the first data bytes
    std::array<std::int32_t, 1 << 16> head_;                 // newest position of each pair of first bytes
    std::array<std::int32_t, 2 * kSlots> son_{};             // smaller and larger subtree of each position
};

// Collects items behind their flag bytes.
class ItemWriter {
public:
    explicit ItemWriter(std::size_t expected) { out_.reserve(expected); }
    void literal(std::uint8_t b) {
        begin_item(true);
        out_.push_back(b);
    }
    void match(std::size_t position, std::size_t len) {
        begin_item(false);
        out_.push_back(static_cast<std::uint8_t>(position & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(((position >> 8) << 4) | (len - kMinMatch)));
    }
    Bytes take() { return std::move(out_); }

private:
    void begin_item(bool is_literal) {
        if (bit_ == 8) {
            flag_at_ = out_.size();
            out_.push_back(0);
            bit_ = 0;
        }
        if (is_literal) out_[flag_at_] = static_cast<std::uint8_t>(out_[flag_at_] | (1u << bit_));
        ++bit_;
    }
    Bytes out_;
    std::size_t flag_at_ = 0;
    unsigned bit_ = 8;
};

}  // namespace

Bytes lzss_encode(ByteView data) {
    const std::size_t n = data.size();
    ItemWriter out(n + n / 8 + 1);
    auto finder = std::make_unique<Finder>(data);
    constexpr std::size_t kRoom = kChunk + kMaxMatch + 1;
    std::vector<Match> matches(kRoom);
    std::vector<std::uint32_t> cost(kRoom);
    std::vector<std::uint8_t> step(kRoom);  // length of the cheapest item that starts here

    std::size_t greedy_stop = 0;  // the next position where the longest-match parse starts an item
    for (std::size_t a = 0; a < n;) {
        // Matches of the chunk: from a to a stop of the longest-match parse.
        std::size_t b = a;
        do {
            const Match m = finder->find(b);
            matches[b - a] = m;
            if (b == greedy_stop) greedy_stop += m.len ? m.len : 1;
            ++b;
        } while (b < n && !(b == greedy_stop && b - a >= kChunk));

        // Cheapest items from a to b: the cost from each position to b,
        // from b backwards, and the item that gives it (the longest among
        // equals: fewer items for the decoder).
        const std::size_t len = b - a;
        cost[len] = 0;
        for (std::size_t j = len; j-- > 0;) {
            std::uint32_t best = kLiteralBits + cost[j + 1];
            std::uint8_t take = 1;
            const std::size_t longest = std::min<std::size_t>(matches[j].len, len - j);
            if (longest >= kMinMatch) {
                std::uint32_t rest = cost[j + kMinMatch];
                std::size_t at = kMinMatch;
                for (std::size_t l = kMinMatch + 1; l <= longest; ++l) {
                    const bool better = cost[j + l] <= rest;
                    rest = better ? cost[j + l] : rest;
                    at = better ? l : at;
                }
                if (kMatchBits + rest <= best) {
                    best = kMatchBits + rest;
                    take = static_cast<std::uint8_t>(at);
                }
            }
            cost[j] = best;
            step[j] = take;
        }
        for (std::size_t j = 0; j < len; j += step[j]) {
            const std::size_t d = a + j;
            if (step[j] == 1) {
                out.literal(data[d]);
            } else {
                const std::size_t position = (kWindowStart + d + kWindowSize - matches[j].dist) & (kWindowSize - 1);
                out.match(position, step[j]);
            }
        }
        a = b;
    }
    return out.take();
}

}  // namespace vid::bm2
