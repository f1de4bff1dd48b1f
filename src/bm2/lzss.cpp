// LZSS decompression straight into the output.
//
// The format's window is a ring of 4096 bytes, zero at the start, written
// from position 4078 on. Every output byte goes both to the output and to
// the window, so the window always holds the last 4096 output bytes, and
// output byte o sits at window position (4078 + o) mod 4096. A match source
// p therefore names the output byte D places back, D from 1 to 4096; when
// that lies before the first output byte, it is one of the window's
// initial zeros. The decoder keeps no window of its own: it copies from
// the output, which holds at least the last 4096 bytes before the current
// position (the whole output, or the buffer of LzssReader).
#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>

#include "bm2/bm2.h"

namespace vid::bm2 {

namespace {

// Where decoding stands: packed position, output position (counted from the
// first output byte), where that position is in memory, and, once the
// window is full, the last 8 output bytes.
struct Position {
    std::size_t i = 0;
    std::uint64_t o = 0;
    std::uint8_t* out = nullptr;
    std::uint64_t tail = 0;
    bool have_tail = false;
};

// The largest output of one group, with the 6 bytes that its last copy may
// write past it.
constexpr std::size_t kGroupRoom = 8 * kMaxMatch + 6;
constexpr std::size_t kGroupInput = 17;

// How far back (1 to 4096) window position `p` is from the write position
// that belongs to output byte `o`.
inline std::size_t distance(std::uint64_t o, std::size_t p) {
    const std::size_t w = static_cast<std::size_t>((kWindowStart + o) & (kWindowSize - 1));
    return ((w - p - 1) & (kWindowSize - 1)) + 1;
}

// Copies `len` bytes from `dist` places back to `dst`, output byte `o`,
// exactly; sources before the first output byte are the window's zeros.
inline void copy_exact(std::uint8_t* dst, std::uint64_t o, std::size_t dist, std::size_t len) {
    std::size_t t = 0;
    if (dist > o) {
        t = static_cast<std::size_t>(std::min<std::uint64_t>(dist - o, len));
        std::memset(dst, 0, t);
    }
    for (; t < len; ++t) dst[t] = (dst - dist)[t];  // overlapping sources repeat the pattern
}

inline std::uint64_t load_le64(const std::uint8_t* p) {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    return v;
}
inline void store_le64(std::uint8_t* p, std::uint64_t v) {
    if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
    std::memcpy(p, &v, 8);
}
inline void copy8(std::uint8_t* dst, const std::uint8_t* src) {
    std::uint64_t v;
    std::memcpy(&v, src, 8);
    std::memcpy(dst, &v, 8);
}

// Matches closer than 8 bytes repeat a pattern of `dist` bytes, which the
// group decoder builds in registers: the last `dist` output bytes spread
// over 8 bytes by a multiplication (times 1 + 2^(8 dist) + 2^(16 dist)
// ...), and each following 8 bytes from the previous ones, shifted to the
// phase where they start (8 mod dist bytes further) and spread again.
constexpr std::uint64_t kMask[8] = {0, 0xFF, 0xFFFF, 0xFFFFFF, 0xFFFFFFFF, 0xFFFFFFFFFF, 0xFFFFFFFFFFFF,
                                    0xFFFFFFFFFFFFFF};
constexpr std::uint64_t kSpread[8] = {0,
                                      0x0101010101010101,
                                      0x0001000100010001,
                                      0x0001000001000001,
                                      0x0000000100000001,
                                      0x0000010000000001,
                                      0x0001000000000001,
                                      0x0100000000000001};
constexpr unsigned kPhaseShift[8] = {0, 0, 0, 16, 0, 24, 16, 8};  // 8 x (8 mod dist)

// The 8 bytes that start `p` bytes (0 to 7) into the 16 bytes `a`, `b`.
inline std::uint64_t bytes_at(std::uint64_t a, std::uint64_t b, std::size_t p) {
    return (a >> (8 * p)) | ((b << 1) << (63 - 8 * p));
}

// The 8 bytes that end `len` bytes into a match, given the 8 bytes before
// it (`before`) and its first 24 bytes (`x0`, `x1`, `x2`).
inline std::uint64_t last8(std::uint64_t before, std::uint64_t x0, std::uint64_t x1, std::uint64_t x2,
                           std::size_t len) {
    if (len < 8) return bytes_at(before, x0, len);
    if (len < 16) return bytes_at(x0, x1, len - 8);
    return bytes_at(x1, x2, len - 16);
}

// One group of eight items once the window is full (o >= 4096, so every
// match source lies in the 4096 bytes before `out`), with at least 17
// packed bytes left and room after `out` for 8 x 18 bytes plus 6: no bounds
// checks per item.
// Copies move 8 bytes at a time: a match writes up to 24 bytes from its
// start whatever its length, and the bytes past its end are overwritten by
// the items that follow (a group ends at most 144 bytes on, its last item
// starts at most 126 bytes on). `tail` holds the last 8 output bytes: short
// patterns are built from it without reading back what was just written,
// and every item ends with a store of its own last 8 bytes, so that later
// reads find them in one piece.
inline void decode_group(const std::uint8_t* in, Position& at) {
    std::size_t i = at.i;
    std::uint64_t o = at.o;
    std::uint8_t* out = at.out;
    std::uint64_t tail = at.tail;
    unsigned flags = in[i++];
    for (int k = 0; k < 8; ++k, flags >>= 1) {
        if (flags & 1u) {
            tail = (tail >> 8) | (std::uint64_t{in[i++]} << 56);
            store_le64(out - 7, tail);
            ++out;
            ++o;
            continue;
        }
        const std::size_t b0 = in[i];
        const std::size_t b1 = in[i + 1];
        i += 2;
        const std::size_t len = (b1 & 0x0Fu) + 3u;
        const std::size_t dist = distance(o, b0 | ((b1 & 0xF0u) << 4));
        std::uint8_t* dst = out;
        if (dist >= 8) {
            // Each piece's source lies before its destination or in what
            // the earlier pieces wrote.
            const std::uint8_t* src = dst - dist;
            const std::uint64_t x0 = load_le64(src);
            store_le64(dst, x0);
            if (len < 8) {
                tail = bytes_at(tail, x0, len);
            } else {
                copy8(dst + 8, src + 8);
                tail = load_le64(src + len - 8);
            }
        } else {
            const std::uint64_t mask = kMask[dist];
            const std::uint64_t spread = kSpread[dist];
            const unsigned shift = kPhaseShift[dist];
            const std::uint64_t x0 = (tail >> (64 - 8 * dist)) * spread;
            const std::uint64_t x1 = ((x0 >> shift) & mask) * spread;
            const std::uint64_t x2 = ((x1 >> shift) & mask) * spread;
            store_le64(dst, x0);
            store_le64(dst + 8, x1);
            store_le64(dst + 16, x2);
            tail = last8(tail, x0, x1, x2, len);
        }
        store_le64(dst + len - 8, tail);  // may rewrite bytes before the match, with their own values
        out += len;
        o += len;
    }
    at.i = i;
    at.o = o;
    at.out = out;
    at.tail = tail;
}

// Whole groups while the packed data hold a group and `total` leaves room
// for one, and until `at.out` reaches `stop`.
void decode_groups(ByteView in, Position& at, const std::uint8_t* stop, std::uint64_t total) {
    const std::uint8_t* data = in.data();
    while (in.size() - at.i >= kGroupInput && total - at.o >= kGroupRoom && at.out < stop) {
        if (at.o >= kWindowSize) {
            if (!at.have_tail) at.tail = load_le64(at.out - 8);
            at.have_tail = true;
            decode_group(data, at);
            continue;
        }
        // The first 4096 bytes, where sources may lie in the initial zeros.
        unsigned flags = data[at.i++];
        for (int k = 0; k < 8; ++k, flags >>= 1) {
            if (flags & 1u) {
                *at.out++ = data[at.i++];
                ++at.o;
            } else {
                const std::size_t p = data[at.i] | (static_cast<std::size_t>(data[at.i + 1] & 0xF0u) << 4);
                const std::size_t len = (data[at.i + 1] & 0x0Fu) + 3u;
                at.i += 2;
                copy_exact(at.out, at.o, distance(at.o, p), len);
                at.out += len;
                at.o += len;
            }
        }
    }
}

// The rest of the stream, item by item with every bound checked: at most
// 150 bytes, since it starts when fewer than 17 packed bytes are left or
// fewer than 150 output bytes are wanted. Ends with `at.i` at the end of
// the packed data.
void decode_rest(ByteView in, Position& at, std::uint64_t total) {
    while (at.i < in.size() && at.o < total) {
        unsigned flags = in[at.i++];
        for (int k = 0; k < 8 && at.i < in.size() && at.o < total; ++k, flags >>= 1) {
            if (flags & 1u) {
                *at.out++ = in[at.i++];
                ++at.o;
                continue;
            }
            if (in.size() - at.i < 2) {  // a match cut by the end of the data
                at.i = in.size();
                return;
            }
            const std::size_t p = in[at.i] | (static_cast<std::size_t>(in[at.i + 1] & 0xF0u) << 4);
            const std::size_t len = static_cast<std::size_t>(
                std::min<std::uint64_t>((in[at.i + 1] & 0x0Fu) + 3u, total - at.o));
            at.i += 2;
            copy_exact(at.out, at.o, distance(at.o, p), len);
            at.out += len;
            at.o += len;
        }
    }
    at.i = in.size();
}

}  // namespace

std::size_t lzss_decode(ByteView packed, std::span<std::uint8_t> out) {
    Position at;
    at.out = out.data();
    decode_groups(packed, at, out.data() + out.size(), out.size());
    decode_rest(packed, at, out.size());
    const auto produced = static_cast<std::size_t>(at.o);
    // What the stream did not produce is zero (and so are the bytes that
    // the last wide copies wrote ahead).
    if (produced < out.size()) std::memset(out.data() + produced, 0, out.size() - produced);
    return produced;
}

namespace {

class MemoryPacked final : public PackedSource {
public:
    explicit MemoryPacked(ByteView data) : data_(data) {}
    std::size_t read(std::span<std::uint8_t> out) override {
        const std::size_t n = std::min(out.size(), data_.size() - pos_);
        if (n > 0) std::memcpy(out.data(), data_.data() + pos_, n);
        pos_ += n;
        return n;
    }

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// Packed bytes the buffer holds at least before a group is decoded, unless
// the data end sooner: more than the rest of the stream can take once
// fewer than 150 output bytes are wanted (150 literals and their flags).
constexpr std::size_t kInputReserve = 1024;

}  // namespace

LzssReader::LzssReader(PackedSource& packed, std::uint64_t packed_size, std::uint64_t unpacked_size,
                       std::size_t piece, std::size_t input)
    : LzssReader(&packed, nullptr, packed_size, unpacked_size, piece, input) {}

LzssReader::LzssReader(ByteView packed, std::uint64_t unpacked_size, std::size_t piece, std::size_t input)
    : LzssReader(nullptr, std::make_unique<MemoryPacked>(packed), packed.size(), unpacked_size, piece, input) {}

LzssReader::LzssReader(PackedSource* source, std::unique_ptr<PackedSource> own, std::uint64_t packed_size,
                       std::uint64_t unpacked_size, std::size_t piece, std::size_t input)
    : source_(source != nullptr ? source : own.get()),
      own_(std::move(own)),
      left_(packed_size),
      total_(unpacked_size),
      piece_(std::max<std::size_t>(piece, 1)),
      in_size_(std::max(input, 2 * kInputReserve)),
      in_(std::make_unique_for_overwrite<std::uint8_t[]>(in_size_)),
      // Not cleared: the decoder reads only what it wrote.
      buf_(std::make_unique_for_overwrite<std::uint8_t[]>(kWindowSize + piece_ + 2 * kGroupRoom)) {}

LzssReader::~LzssReader() = default;

void LzssReader::refill() {
    const std::size_t keep = in_end_ - i_;
    if (keep > 0 && i_ > 0) std::memmove(in_.get(), in_.get() + i_, keep);
    in_end_ = keep;
    i_ = 0;
    while (in_end_ < in_size_ && left_ > 0) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(in_size_ - in_end_, left_));
        const std::size_t got = source_->read(std::span(in_.get() + in_end_, want));
        if (got == 0) {
            left_ = 0;  // the data end before their announced size
            break;
        }
        in_end_ += got;
        left_ -= std::min<std::uint64_t>(got, left_);
    }
}

ByteView LzssReader::next() {
    if (given_ == total_) return {};
    // Keep the window's 4096 bytes before the current position.
    std::size_t start = pos_;
    if (start > kWindowSize) {
        std::memmove(buf_.get(), buf_.get() + start - kWindowSize, kWindowSize);
        start = kWindowSize;
    }
    Position at;
    at.o = given_;
    at.out = buf_.get() + start;
    at.tail = tail_;
    at.have_tail = have_tail_;
    std::uint8_t* const stop = buf_.get() + start + piece_;
    while (!ended_ && at.out < stop && at.o < total_) {
        if (left_ > 0 && in_end_ - i_ < kInputReserve) refill();
        const ByteView in(in_.get(), in_end_);
        at.i = i_;
        decode_groups(in, at, stop, total_);
        i_ = at.i;
        produced_ = at.o;
        if (at.out >= stop || at.o >= total_) break;
        if (left_ > 0 && in_end_ - i_ < kInputReserve) continue;  // more packed data first
        // The end of the packed data, or the last bytes of the output: the
        // rest goes in one go, the buffer has room for it.
        decode_rest(in, at, total_);
        produced_ = at.o;
        ended_ = true;
    }
    if (at.o >= total_) ended_ = true;
    if (ended_ && at.out < stop) {
        // After the end of the stream: zeros up to the unpacked size.
        const auto room = static_cast<std::size_t>(stop - at.out);
        const auto zeros = static_cast<std::size_t>(std::min<std::uint64_t>(room, total_ - at.o));
        std::memset(at.out, 0, zeros);
        at.out += zeros;
        at.o += zeros;
    }
    tail_ = at.tail;
    have_tail_ = at.have_tail;
    given_ = at.o;
    pos_ = static_cast<std::size_t>(at.out - buf_.get());
    return ByteView(buf_.get() + start, pos_ - start);
}

}  // namespace vid::bm2
