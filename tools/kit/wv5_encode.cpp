#include "kit/wv5_encode.h"

#include <algorithm>
#include <cstdlib>
#include <stdexcept>

#include "wv5/wv5.h"

namespace vid::kit {

Wv5Builder& Wv5Builder::run0(std::span<const std::uint8_t> codes) {
    if (codes.size() > 255) throw std::invalid_argument("a kind 0 run holds at most 255 codes");
    put_u8(body_, 0);
    put_u8(body_, static_cast<std::uint8_t>(codes.size()));
    body_.insert(body_.end(), codes.begin(), codes.end());
    samples_ += codes.size();
    ++runs_;
    return *this;
}

Wv5Builder& Wv5Builder::run1(std::span<const std::uint8_t> codes) {
    if (codes.size() != 256) throw std::invalid_argument("a kind 1 run holds 256 codes");
    put_u8(body_, 1);
    body_.insert(body_.end(), codes.begin(), codes.end());
    samples_ += 256;
    ++runs_;
    return *this;
}

Wv5Builder& Wv5Builder::run3(std::uint16_t count, std::uint8_t code) {
    put_u8(body_, 3);
    put_u16(body_, count);
    put_u8(body_, code);
    samples_ += count;
    ++runs_;
    return *this;
}

Wv5Builder& Wv5Builder::repeat(std::uint8_t kind, std::uint8_t code) {
    if (kind < 2 || kind == 3) throw std::invalid_argument("a repeat run is of kind 2 or 4 to 255");
    put_u8(body_, kind);
    put_u8(body_, code);
    samples_ += kind;
    ++runs_;
    return *this;
}

Wv5Builder& Wv5Builder::raw_run(ByteView bytes) {
    body_.insert(body_.end(), bytes.begin(), bytes.end());
    ++runs_;
    return *this;
}

Bytes Wv5Builder::finish(std::optional<std::uint32_t> frames, std::optional<std::int32_t> runs) const {
    Bytes out(4, 0);  // bytes the decoder does not read
    put_u16(out, channels_);
    put_u32(out, rate_);
    const std::uint64_t per_channel = channels_ == 1 ? samples_ : samples_ / 2;
    put_u32(out, frames.value_or(static_cast<std::uint32_t>(per_channel)));
    put_u32(out, static_cast<std::uint32_t>(runs.value_or(runs_)));
    out.insert(out.end(), body_.begin(), body_.end());
    return out;
}

Bytes wv5_codes(std::span<const std::int16_t> samples, bool two_channels) {
    Bytes codes;
    codes.reserve(samples.size());
    int value[2] = {0, 0};
    unsigned next = 0;
    for (std::int16_t target : samples) {
        int& v = value[two_channels ? next : 0];
        const int diff = target - v;
        const int mag = std::abs(diff);
        // The step nearest to the difference.
        auto it = std::lower_bound(wv5::kSteps.begin(), wv5::kSteps.end(), mag);
        if (it == wv5::kSteps.end() || (it != wv5::kSteps.begin() && mag - *(it - 1) < *it - mag)) --it;
        const auto index = static_cast<std::uint8_t>(it - wv5::kSteps.begin());
        const auto code = static_cast<std::uint8_t>(diff < 0 && index != 0 ? 128 + index : index);
        codes.push_back(code);
        v = static_cast<std::int16_t>(static_cast<std::uint16_t>(v + wv5::step_of(code)));
        next ^= 1u;
    }
    return codes;
}

void wv5_pack(Wv5Builder& b, ByteView codes) {
    std::size_t lit_start = 0;
    auto flush_literals = [&](std::size_t end) {
        while (lit_start < end) {
            const std::size_t n = end - lit_start;
            if (n >= 256) {
                b.run1(codes.subspan(lit_start, 256));
                lit_start += 256;
            } else {
                b.run0(codes.subspan(lit_start, n));
                lit_start = end;
            }
        }
    };
    std::size_t i = 0;
    while (i < codes.size()) {
        std::size_t j = i + 1;
        while (j < codes.size() && codes[j] == codes[i] && j - i < 65535) ++j;
        const std::size_t n = j - i;
        if (n >= 4) {
            flush_literals(i);
            if (n <= 255) {
                b.repeat(static_cast<std::uint8_t>(n), codes[i]);
            } else {
                b.run3(static_cast<std::uint16_t>(n), codes[i]);
            }
            lit_start = j;
        }
        i = j;
    }
    flush_literals(codes.size());
}

Bytes wv5_encode(std::span<const std::int16_t> samples, std::uint16_t channels, std::uint32_t rate) {
    Wv5Builder b(channels, rate);
    wv5_pack(b, wv5_codes(samples, channels != 1));
    return b.finish();
}

}  // namespace vid::kit
