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
constexpr unsigned kHashBits = 16;
constexpr std::size_t kChunk = 64 * 1024;             // positions per shortest-path pass
constexpr std::int32_t kNone = -1;
constexpr std::uint32_t kLiteralBits = 9;
constexpr std::uint32_t kMatchBits = 17;

struct Match {
    std::uint16_t dist = 0;  // 1 to 4096
    std::uint8_t len = 0;    // 0 when no match of 3 bytes or more
};

inline std::uint32_t hash3(const std::uint8_t* p) {
    const std::uint32_t v = p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

inline std::size_t common(const std::uint8_t* a, const std::uint8_t* b, std::size_t limit) {
    std::size_t n = 0;
    while (n < limit && a[n] == b[n]) ++n;
    return n;
}

// Finds the longest match at each data position in turn, with hash chains
// over the last 4096 positions. The window's leading zeros take part
// through position 4078 and the 17 after it: every earlier zero position
// offers the same bytes (18 zeros) and lies farther back.
class Finder {
public:
    explicit Finder(ByteView data) : data_(data) {
        head_.fill(kNone);
        prev_.fill(kNone);
        const std::size_t ahead = std::min(data.size(), kWindowSize + kMaxMatch);
        if (ahead > 0) std::memcpy(start_.data() + kOffset, data.data(), ahead);
        for (std::size_t v = kDeepZero; v < kOffset; ++v) insert(v, start_.data() + v);
    }

    // The longest match at data position `d`; `hint` is the match found at
    // d - 1, whose source one byte on matches here too. Then adds `d` to
    // the chains. Call for d = 0, 1, 2... in order.
    Match find(std::size_t d, Match hint) {
        const std::size_t cur = d + kOffset;
        const std::size_t limit = std::min(kMaxMatch, data_.size() - d);
        const std::uint8_t* s = at(cur, cur);
        Match best;
        if (limit < kMinMatch) return best;
        std::size_t best_len = 0;
        if (hint.len > kMinMatch) {
            best_len = common(s, at(cur - hint.dist, cur), limit);
            best.dist = hint.dist;
        }
        if (best_len < limit) {
            for (std::int32_t c = head_[hash3(s)]; c != kNone; c = prev_[static_cast<std::size_t>(c) & (kWindowSize - 1)]) {
                const std::size_t dist = cur - static_cast<std::size_t>(c);
                if (dist > kWindowSize) break;
                const std::uint8_t* t = at(static_cast<std::size_t>(c), cur);
                if (t[best_len] != s[best_len]) continue;
                const std::size_t len = common(s, t, limit);
                if (len > best_len) {
                    best_len = len;
                    best.dist = static_cast<std::uint16_t>(dist);
                    if (len == limit) break;
                }
            }
        }
        insert(cur, s);
        if (best_len >= kMinMatch) best.len = static_cast<std::uint8_t>(best_len);
        return best;
    }

private:
    // The bytes from virtual position `v`, seen from the current position
    // `cur`: at first from the copy of the start behind its zeros, later
    // from the data themselves.
    const std::uint8_t* at(std::size_t v, std::size_t cur) const {
        return cur < kSplit ? start_.data() + v : data_.data() + (v - kOffset);
    }
    void insert(std::size_t v, const std::uint8_t* p) {
        if (v + kMinMatch > kOffset + data_.size()) return;
        const std::uint32_t h = hash3(p);
        prev_[v & (kWindowSize - 1)] = head_[h];
        head_[h] = static_cast<std::int32_t>(v);
    }

    ByteView data_;
    std::array<std::uint8_t, kSplit + kMaxMatch> start_{};  // 4096 zeros, then the first data bytes
    std::array<std::int32_t, std::size_t{1} << kHashBits> head_;
    std::array<std::int32_t, kWindowSize> prev_;
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
    std::vector<std::uint8_t> step(kRoom);  // length of the cheapest item that ends here
    std::vector<std::uint8_t> path;
    path.reserve(kRoom);

    Match hint;
    std::size_t greedy_stop = 0;  // the next position where the longest-match parse starts an item
    for (std::size_t a = 0; a < n;) {
        // Matches of the chunk: from a to a stop of the longest-match parse.
        std::size_t b = a;
        do {
            hint = finder->find(b, hint);
            matches[b - a] = hint;
            if (b == greedy_stop) greedy_stop += hint.len ? hint.len : 1;
            ++b;
        } while (b < n && !(b == greedy_stop && b - a >= kChunk));

        // Cheapest items from a to b.
        const std::size_t len = b - a;
        std::fill_n(cost.begin(), len + 1, std::numeric_limits<std::uint32_t>::max());
        cost[0] = 0;
        for (std::size_t j = 0; j < len; ++j) {
            const std::uint32_t here = cost[j];
            if (here + kLiteralBits < cost[j + 1]) {
                cost[j + 1] = here + kLiteralBits;
                step[j + 1] = 1;
            }
            const std::size_t longest = std::min<std::size_t>(matches[j].len, len - j);
            for (std::size_t l = kMinMatch; l <= longest; ++l) {
                if (here + kMatchBits < cost[j + l]) {
                    cost[j + l] = here + kMatchBits;
                    step[j + l] = static_cast<std::uint8_t>(l);
                }
            }
        }
        path.clear();
        for (std::size_t j = len; j > 0; j -= step[j]) path.push_back(step[j]);
        std::size_t j = 0;
        for (auto it = path.rbegin(); it != path.rend(); ++it) {
            const std::size_t d = a + j;
            if (*it == 1) {
                out.literal(data[d]);
            } else {
                const std::size_t position = (kWindowStart + d + kWindowSize - matches[j].dist) & (kWindowSize - 1);
                out.match(position, *it);
            }
            j += *it;
        }
        a = b;
    }
    return out.take();
}

}  // namespace vid::bm2
