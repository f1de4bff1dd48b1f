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

// A read cursor over bytes that were really read. Every read either returns
// the value or reports that the data end first; the position never moves
// past the end.
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
    // The next `n` bytes, or nothing when fewer are left.
    std::optional<ByteView> take(std::size_t n) {
        if (left() < n) return std::nullopt;
        ByteView v = data_.subspan(pos_, n);
        pos_ += n;
        return v;
    }
    bool skip(std::size_t n) {
        if (left() < n) return false;
        pos_ += n;
        return true;
    }

private:
    ByteView data_;
    std::size_t pos_;
};

}  // namespace vid
