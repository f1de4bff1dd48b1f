// Hand-made FL3 bytes for the FL3 tests.
#pragma once

#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace vid::test::fl3b {

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes u32(std::uint32_t v) {
    return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)};
}
inline Bytes txt(std::string_view s) { return Bytes(s.begin(), s.end()); }
// "FL3." 30 00 00 00 1C 00, then directory length, offset, count and 8 zeros.
inline Bytes hdr(std::uint32_t dir_length, std::uint32_t dir_offset, std::uint16_t count) {
    return txt("FL3.") + Bytes{0x30, 0, 0, 0, 0x1C, 0} + u32(dir_length) + u32(dir_offset) +
           Bytes{std::uint8_t(count), std::uint8_t(count >> 8)} + Bytes(8, 0);
}
inline Bytes ent(std::uint32_t size, std::string_view name) {
    return u32(size) + Bytes{std::uint8_t(name.size())} + txt(name);
}
inline const Bytes kEnd{0xFF, 0xFF, 0xFF, 0xFF};

// Names of the files in a folder.
inline std::set<std::string> listing(const std::string& folder) {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(folder)) out.insert(e.path().filename().string());
    return out;
}

}  // namespace vid::test::fl3b
