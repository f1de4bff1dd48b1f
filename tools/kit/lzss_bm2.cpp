#include "kit/lzss_bm2.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <vector>

#include "kit/kit.h"

namespace vid::kit {

namespace {

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kStart = kWindow - 18;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 18;
constexpr int kChainDepth = 48;
constexpr std::size_t kHashBits = 15;

std::uint32_t hash3(const std::uint8_t* p) {
    const std::uint32_t v = p[0] | (p[1] << 8) | (static_cast<std::uint32_t>(p[2]) << 16);
    return (v * 2654435761u) >> (32 - kHashBits);
}

// Collects items behind their flag bytes.
class ItemWriter {
public:
    void literal(std::uint8_t b) {
        begin_item(true);
        out_.push_back(b);
    }
    void match(std::size_t source, std::size_t len) {
        begin_item(false);
        out_.push_back(static_cast<std::uint8_t>(source & 0xFF));
        out_.push_back(static_cast<std::uint8_t>(((source >> 8) << 4) | (len - kMinMatch)));
    }
    Bytes take() { return std::move(out_); }

private:
    void begin_item(bool is_literal) {
        if (bit_ == 8) {
            flag_pos_ = out_.size();
            out_.push_back(0);
            bit_ = 0;
        }
        if (is_literal) out_[flag_pos_] = static_cast<std::uint8_t>(out_[flag_pos_] | (1u << bit_));
        ++bit_;
    }
    Bytes out_;
    std::size_t flag_pos_ = 0;
    unsigned bit_ = 8;
};

}  // namespace

Bytes lzss_encode(ByteView data) {
    // The window's initial zeros come first, so that matches may reach them.
    std::vector<std::uint8_t> buf(kWindow + data.size(), 0);
    if (!data.empty()) std::memcpy(buf.data() + kWindow, data.data(), data.size());
    const std::size_t end = buf.size();
    std::vector<std::int64_t> head(std::size_t{1} << kHashBits, -1);
    std::vector<std::int64_t> prev(2 * kWindow, -1);
    auto insert = [&](std::size_t pos) {
        if (pos + 2 >= end) return;
        const std::uint32_t h = hash3(&buf[pos]);
        prev[pos % prev.size()] = head[h];
        head[h] = static_cast<std::int64_t>(pos);
    };
    for (std::size_t pos = 0; pos < kWindow; ++pos) insert(pos);

    ItemWriter w;
    std::size_t cur = kWindow;
    while (cur < end) {
        const std::size_t limit = std::min(kMaxMatch, end - cur);
        std::size_t best_len = 0;
        std::size_t best_dist = 0;
        if (limit >= kMinMatch) {
            std::int64_t cand = head[hash3(&buf[cur])];
            for (int depth = 0; cand >= 0 && depth < kChainDepth; ++depth) {
                const std::size_t c = static_cast<std::size_t>(cand);
                const std::size_t dist = cur - c;
                if (dist > kWindow) break;
                std::size_t len = 0;
                while (len < limit && buf[c + len] == buf[cur + len]) ++len;
                if (len > best_len) {
                    best_len = len;
                    best_dist = dist;
                    if (len == limit) break;
                }
                cand = prev[c % prev.size()];
            }
        }
        if (best_len >= kMinMatch) {
            const std::size_t o = cur - kWindow;
            w.match((kStart + o + kWindow - best_dist) % kWindow, best_len);
            for (std::size_t k = 0; k < best_len; ++k) insert(cur + k);
            cur += best_len;
        } else {
            w.literal(buf[cur]);
            insert(cur);
            ++cur;
        }
    }
    return w.take();
}

Bytes bm2_wrap(ByteView packed, std::int32_t packed_size, std::int32_t unpacked_size) {
    Bytes out(8, 0);
    put_u32(out, static_cast<std::uint32_t>(packed_size));
    put_u32(out, static_cast<std::uint32_t>(unpacked_size));
    out.insert(out.end(), packed.begin(), packed.end());
    return out;
}

Bytes bm2_file(ByteView decoded) {
    const Bytes packed = lzss_encode(decoded);
    return bm2_wrap(packed, static_cast<std::int32_t>(packed.size()), static_cast<std::int32_t>(decoded.size()));
}

Bytes bmp24(std::uint16_t width, std::uint16_t height, std::uint64_t seed) {
    Rng rng(seed);
    const std::size_t row = (std::size_t{width} * 3 + 3) / 4 * 4;
    const std::size_t pixels = row * height;
    Bytes out{'B', 'M'};
    out.reserve(54 + pixels);
    put_u32(out, static_cast<std::uint32_t>(54 + pixels));
    put_u32(out, 0);
    put_u32(out, 54);
    put_u32(out, 40);
    put_u32(out, width);
    put_u32(out, height);
    put_u16(out, 1);
    put_u16(out, 24);
    for (int i = 0; i < 6; ++i) put_u32(out, 0);

    // A game screen: a sky that darkens row by row, hills of flat colour,
    // a tiled ground, and round sprites with some grain: long runs, rows
    // that repeat a few pixels back, and bytes that do not repeat at all.
    std::vector<std::array<std::uint8_t, 3>> tile(32 * 32);
    for (auto& px : tile) {
        const auto g = static_cast<std::uint8_t>(rng.below(40));
        px = {static_cast<std::uint8_t>(30 + g), static_cast<std::uint8_t>(90 + g), static_cast<std::uint8_t>(40 + g / 2)};
    }
    const double phase = rng.below(100) / 10.0;
    const std::size_t ground = height * 4 / 5;
    std::vector<std::size_t> hill(width);
    for (std::size_t x = 0; x < width; ++x) {
        const double xd = static_cast<double>(x);
        hill[x] = static_cast<std::size_t>(static_cast<double>(height) * (0.42 + 0.08 * std::sin(xd / 70.0 + phase)) +
                                           20.0 * std::sin(xd / 23.0) + 20.0);
    }
    for (std::size_t row_index = 0; row_index < height; ++row_index) {
        const std::size_t y = height - 1 - row_index;  // bottom-up rows, screen row y from the top
        const std::size_t start = out.size();
        for (std::size_t x = 0; x < width; ++x) {
            std::array<std::uint8_t, 3> px;
            if (y >= ground) {
                px = tile[(y % 32) * 32 + x % 32];
            } else if (y > hill[x]) {
                px = {20, static_cast<std::uint8_t>(120 - (y - hill[x]) / 4 % 100), 30};
            } else {
                px = {static_cast<std::uint8_t>(250 - y / 3 % 250), static_cast<std::uint8_t>(200 - y / 4 % 200),
                      static_cast<std::uint8_t>(120 - y / 5 % 120)};
            }
            const std::size_t sx = x / 80 * 80 + 40;
            const std::size_t dx = x > sx ? x - sx : sx - x;
            const std::size_t sy = height * 5 / 8;
            const std::size_t dy = y > sy ? y - sy : sy - y;
            if (x / 80 % 3 == 1 && dx * dx + dy * dy < 400)
                px = {static_cast<std::uint8_t>(rng.byte() | 0x80), static_cast<std::uint8_t>(40 + (dx & 7) * 8), 200};
            out.insert(out.end(), px.begin(), px.end());
        }
        out.resize(start + row, 0);
    }
    return out;
}

Bytes bm2_alpha(std::uint16_t bit_count, std::uint16_t width, std::uint16_t height, ByteView picture) {
    Bytes out{'B', 'M', '2', 'A'};
    put_u32(out, 0);
    put_u16(out, bit_count);
    put_u32(out, 0);
    put_u16(out, width);
    put_u16(out, height);
    put_u32(out, 0);
    out.insert(out.end(), picture.begin(), picture.end());
    return out;
}

Bytes alpha_picture(std::uint16_t bit_count, std::uint16_t width, std::uint16_t height, std::uint64_t seed) {
    Rng rng(seed);
    Bytes out;
    const std::size_t cx = width / 2;
    const std::size_t cy = height / 2;
    // A round sprite: opaque inside, fading at the rim, clear outside.
    auto alpha_at = [&](std::size_t x, std::size_t y) {
        const std::size_t dx = x > cx ? x - cx : cx - x;
        const std::size_t dy = y > cy ? y - cy : cy - y;
        const std::size_t r = std::max<std::size_t>(1, std::min(cx, cy));
        const std::size_t d2 = dx * dx + dy * dy;
        if (d2 >= r * r) return std::uint8_t{0};
        return static_cast<std::uint8_t>(255 - 255 * d2 / (r * r));
    };
    if (bit_count == 8) {
        for (unsigned i = 0; i < 256; ++i) {
            put_u8(out, static_cast<std::uint8_t>(i));
            put_u8(out, static_cast<std::uint8_t>(255 - i));
            put_u8(out, static_cast<std::uint8_t>(i * 7));
            put_u8(out, 0);
        }
        for (std::size_t y = 0; y < height; ++y)
            for (std::size_t x = 0; x < width; ++x) {
                put_u8(out, static_cast<std::uint8_t>((x + y) / 3 + rng.below(2)));
                put_u8(out, alpha_at(x, y));
            }
    } else {
        for (std::size_t y = 0; y < height; ++y)
            for (std::size_t x = 0; x < width; ++x) {
                put_u8(out, static_cast<std::uint8_t>(x * 4));
                put_u8(out, static_cast<std::uint8_t>(y * 4 + rng.below(3)));
                put_u8(out, 200);
                put_u8(out, alpha_at(x, y));
            }
    }
    return out;
}

}  // namespace vid::kit
