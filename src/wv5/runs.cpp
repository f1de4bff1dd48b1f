#include "wv5/runs.h"

#include <algorithm>

namespace vid::wv5 {

namespace {

constexpr std::size_t kMaxLiteral = 255;
constexpr std::size_t kBlock = 256;
constexpr std::size_t kMaxShortRepeat = 255;
constexpr std::size_t kMaxLongRepeat = 65535;
// Codes left unwritten at the end of a full window: a run of the final
// cover may still change within this distance of the codes to come.
constexpr std::size_t kMargin = kMaxLongRepeat + kBlock;

enum class Kind : std::uint8_t { literal, block, long_repeat, short_repeat };

struct Run {
    Kind kind;
    std::uint32_t length;  // codes covered
};

// Indices of a sliding window, keeping the one of the least key at the front.
class MinQueue {
public:
    explicit MinQueue(std::size_t capacity) { idx_.reserve(capacity); }
    void clear() { head_ = 0, idx_.clear(); }
    template <class Key>
    void push(std::size_t i, Key key) {
        while (idx_.size() > head_ && key(idx_.back()) >= key(i)) idx_.pop_back();
        idx_.push_back(i);
    }
    // Drops the indices below `first`; false when none is left.
    bool from(std::size_t first) {
        while (head_ < idx_.size() && idx_[head_] < first) ++head_;
        return head_ < idx_.size();
    }
    std::size_t front() const { return idx_[head_]; }

private:
    std::vector<std::size_t> idx_;
    std::size_t head_ = 0;
};

// A cover's cost: its bytes, then its runs (of two covers of the same size,
// the one with fewer runs).
constexpr std::int64_t kByte = std::int64_t{1} << 20;
constexpr std::int64_t cost_of(std::size_t bytes) { return static_cast<std::int64_t>(bytes) * kByte + 1; }

// The cheapest runs that cover `codes`, in order.
std::vector<Run> cheapest_runs(ByteView codes) {
    const std::size_t n = codes.size();
    std::vector<std::int64_t> cost(n + 1, 0);
    std::vector<Run> last(n + 1, Run{Kind::literal, 0});  // the run that ends at j
    MinQueue literal(n + 1), long_repeat(n + 1), short_repeat(n + 1);
    auto literal_key = [&](std::size_t i) { return cost[i] - static_cast<std::int64_t>(i) * kByte; };
    auto cost_key = [&](std::size_t i) { return cost[i]; };
    std::size_t same_from = 0;  // codes[same_from .. j) are all equal
    for (std::size_t j = 1; j <= n; ++j) {
        if (j >= 2 && codes[j - 1] != codes[j - 2]) {
            same_from = j - 1;
            long_repeat.clear();
            short_repeat.clear();
        }
        auto offer = [&](std::size_t from, std::size_t bytes, Kind kind) {
            const std::int64_t c = cost[from] + cost_of(bytes);
            if (last[j].length == 0 || c < cost[j]) {
                cost[j] = c;
                last[j] = Run{kind, static_cast<std::uint32_t>(j - from)};
            }
        };
        // Kind 0: 2 bytes and the codes.
        literal.push(j - 1, literal_key);
        literal.from(j > kMaxLiteral ? j - kMaxLiteral : 0);
        offer(literal.front(), 2 + j - literal.front(), Kind::literal);
        // Kind 1: 256 codes in 257 bytes.
        if (j >= kBlock) offer(j - kBlock, 1 + kBlock, Kind::block);
        // Kind 3: one code up to 65535 times in 4 bytes.
        long_repeat.push(j - 1, cost_key);
        if (long_repeat.from(std::max(same_from, j > kMaxLongRepeat ? j - kMaxLongRepeat : 0)))
            offer(long_repeat.front(), 4, Kind::long_repeat);
        // Kind k: one code k times (2, or 4 to 255) in 2 bytes.
        if (j >= same_from + 2) offer(j - 2, 2, Kind::short_repeat);
        if (j >= same_from + 4) {
            short_repeat.push(j - 4, cost_key);
            if (short_repeat.from(std::max(same_from, j > kMaxShortRepeat ? j - kMaxShortRepeat : 0)))
                offer(short_repeat.front(), 2, Kind::short_repeat);
        }
    }
    std::vector<Run> runs;
    for (std::size_t j = n; j > 0; j -= last[j].length) runs.push_back(last[j]);
    std::reverse(runs.begin(), runs.end());
    return runs;
}

// Appends the bytes of `run` over the codes at `c`.
void put_run(Bytes& out, const Run& run, const std::uint8_t* c) {
    switch (run.kind) {
        case Kind::literal:
            out.push_back(0);
            out.push_back(static_cast<std::uint8_t>(run.length));
            out.insert(out.end(), c, c + run.length);
            break;
        case Kind::block:
            out.push_back(1);
            out.insert(out.end(), c, c + kBlock);
            break;
        case Kind::long_repeat:
            out.push_back(3);
            put_u16(out, static_cast<std::uint16_t>(run.length));
            out.push_back(c[0]);
            break;
        case Kind::short_repeat:
            out.push_back(static_cast<std::uint8_t>(run.length));
            out.push_back(c[0]);
            break;
    }
}

}  // namespace

RunPacker::RunPacker(Sink& out, std::size_t window) : out_(out), window_(std::max(window, 2 * kMargin)) {
    codes_.reserve(window_);
}

bool RunPacker::push(ByteView codes) {
    while (!codes.empty()) {
        const std::size_t k = std::min(codes.size(), window_ - codes_.size());
        codes_.insert(codes_.end(), codes.begin(), codes.begin() + static_cast<std::ptrdiff_t>(k));
        codes = codes.subspan(k);
        if (codes_.size() == window_ && !pack(false)) return false;
    }
    return true;
}

bool RunPacker::finish() { return pack(true); }

bool RunPacker::pack(bool all) {
    const std::vector<Run> runs = cheapest_runs(codes_);
    const std::size_t limit = all ? codes_.size() : codes_.size() - kMargin;
    Bytes bytes;
    std::size_t done = 0;
    for (const Run& r : runs) {
        if (done + r.length > limit) break;
        put_run(bytes, r, codes_.data() + done);
        done += r.length;
        ++runs_;
    }
    codes_.erase(codes_.begin(), codes_.begin() + static_cast<std::ptrdiff_t>(done));
    bytes_ += bytes.size();
    return bytes.empty() || out_.write(bytes);
}

Bytes pack_runs(ByteView codes, std::uint64_t* runs) {
    Bytes out;
    std::size_t done = 0;
    std::uint64_t count = 0;
    for (const Run& r : cheapest_runs(codes)) {
        put_run(out, r, codes.data() + done);
        done += r.length;
        ++count;
    }
    if (runs) *runs = count;
    return out;
}

}  // namespace vid::wv5
