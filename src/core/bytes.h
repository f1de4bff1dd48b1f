// Little-endian byte access that never reads or writes past its data.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace vid {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

inline std::uint16_t load_u16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t load_u32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void store_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void store_u32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}
inline void put_u8(Bytes& out, std::uint8_t v) { out.push_back(v); }
inline void put_u16(Bytes& out, std::uint16_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void put_u32(Bytes& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void put_text(Bytes& out, std::string_view s) { out.insert(out.end(), s.begin(), s.end()); }

// a + b and a * b, or nothing when the result does not fit 64 bits: for
// sizes and offsets made of a file's fields.
inline std::optional<std::uint64_t> checked_add(std::uint64_t a, std::uint64_t b) {
    if (a > UINT64_MAX - b) return std::nullopt;
    return a + b;
}
inline std::optional<std::uint64_t> checked_mul(std::uint64_t a, std::uint64_t b) {
    if (b != 0 && a > UINT64_MAX / b) return std::nullopt;
    return a * b;
}

// A read cursor over bytes that were really read. Every read either returns
// the value or reports that the data end first; the position never moves
// past the end, and a read that fails does not move it.
class Cursor {
public:
    explicit Cursor(ByteView data, std::size_t pos = 0) : data_(data), pos_(pos <= data.size() ? pos : data.size()) {}

    std::size_t pos() const { return pos_; }
    std::size_t left() const { return data_.size() - pos_; }
    bool at_end() const { return pos_ == data_.size(); }
    ByteView data() const { return data_; }

    std::optional<std::uint8_t> u8() {
        if (left() < 1) return std::nullopt;
        return data_[pos_++];
    }
    std::optional<std::uint16_t> u16() {
        if (left() < 2) return std::nullopt;
        auto v = load_u16(data_.data() + pos_);
        pos_ += 2;
        return v;
    }
    std::optional<std::uint32_t> u32() {
        if (left() < 4) return std::nullopt;
        auto v = load_u32(data_.data() + pos_);
        pos_ += 4;
        return v;
    }
    std::optional<std::uint64_t> u64() {
        if (left() < 8) return std::nullopt;
        auto v = std::uint64_t{load_u32(data_.data() + pos_)} | std::uint64_t{load_u32(data_.data() + pos_ + 4)} << 32;
        pos_ += 8;
        return v;
    }
    // The same reads into `v`, for headers read field after field:
    //   if (!(c.read(a) && c.skip(2) && c.read(b))) ...
    // `v` is left as it was when the data end first. The width is that of
    // `v`'s type, which must match exactly.
    bool read(std::uint8_t& v) { return into(u8(), v); }
    bool read(std::uint16_t& v) { return into(u16(), v); }
    bool read(std::uint32_t& v) { return into(u32(), v); }
    bool read(std::uint64_t& v) { return into(u64(), v); }
    // The next `n` bytes, or nothing when fewer are left.
    std::optional<ByteView> take(std::size_t n) {
        if (left() < n) return std::nullopt;
        ByteView v = data_.subspan(pos_, n);
        pos_ += n;
        return v;
    }
    // The next `n` bytes, or all that are left when fewer are.
    ByteView take_at_most(std::size_t n) {
        const std::size_t k = n < left() ? n : left();
        ByteView v = data_.subspan(pos_, k);
        pos_ += k;
        return v;
    }
    bool skip(std::size_t n) {
        if (left() < n) return false;
        pos_ += n;
        return true;
    }

private:
    template <class T>
    static bool into(std::optional<T> got, T& v) {
        if (got) v = *got;
        return got.has_value();
    }

    ByteView data_;
    std::size_t pos_;
};

}  // namespace vid
