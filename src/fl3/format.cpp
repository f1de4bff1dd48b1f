#include "fl3/format.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "core/text.h"

namespace vid::fl3 {

std::array<std::uint8_t, kHeaderSize> header_bytes(const Header& h) {
    std::array<std::uint8_t, kHeaderSize> b{};
    b[0] = 'F';
    b[1] = 'L';
    b[2] = '3';
    b[3] = '.';
    store_u32(&b[4], kVersionField);
    store_u16(&b[8], static_cast<std::uint16_t>(kHeaderSize));
    store_u32(&b[10], h.dir_length);
    store_u32(&b[14], h.dir_offset);
    store_u16(&b[18], h.entry_count);
    return b;
}

std::optional<Header> parse_header(ByteView bytes) {
    if (bytes.size() < kHeaderSize) return std::nullopt;
    // "FL3.", the version field and the header's own length are not relied upon.
    Cursor c(bytes.first(kHeaderSize), 10);
    Header h;
    if (!(c.read(h.dir_length) && c.read(h.dir_offset) && c.read(h.entry_count))) return std::nullopt;
    return h;
}

void put_entry(Bytes& out, std::uint32_t size, std::string_view name) {
    put_u32(out, size);
    put_u8(out, static_cast<std::uint8_t>(name.size()));
    put_text(out, name);
}

std::size_t MemorySource::read(std::span<std::uint8_t> out) {
    std::size_t n = std::min(out.size(), data_.size() - pos_);
    std::copy_n(data_.begin() + static_cast<std::ptrdiff_t>(pos_), n, out.begin());
    pos_ += n;
    return n;
}

Directory read_directory(ByteSource& source, std::size_t max_entries) {
    Directory dir;
    std::uint64_t position = 0;
    std::array<std::uint8_t, 5> head{};
    std::array<std::uint8_t, 255> name{};
    for (;;) {
        // The size, or the end marker where the next size would stand.
        if (source.read(std::span(head).first(4)) < 4) {
            dir.end = Directory::End::end_of_data;
            return dir;
        }
        const std::uint32_t size = *Cursor(ByteView(head).first(4)).u32();  // four bytes were read
        if (size == kEndMarker) {
            dir.end = Directory::End::marker;
            dir.length += 4;
            return dir;
        }
        if (dir.entries.size() == max_entries) {
            dir.end = Directory::End::limit;
            return dir;
        }
        if (source.read(std::span(head).subspan(4, 1)) < 1) {
            dir.end = Directory::End::end_of_data;
            return dir;
        }
        std::size_t n = head[4];
        if (source.read(std::span(name).first(n)) < n) {
            dir.end = Directory::End::end_of_data;
            return dir;
        }
        Entry e;
        e.size = size;
        e.name.assign(reinterpret_cast<const char*>(name.data()), n);
        e.position = position;
        position += size;
        dir.length += 5 + n;
        dir.entries.push_back(std::move(e));
    }
}

namespace {

// The names that Windows gives to devices, with or without an extension:
// CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, in any case. Spaces
// before the extension do not make them ordinary names.
bool is_device_name(std::string_view name) {
    std::string_view base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ') base.remove_suffix(1);
    std::string up;
    for (char c : base) up += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (up == "CON" || up == "PRN" || up == "AUX" || up == "NUL") return true;
    return up.size() == 4 && (up.starts_with("COM") || up.starts_with("LPT")) && up[3] >= '1' && up[3] <= '9';
}

}  // namespace

bool is_safe_name(std::string_view name) {
    if (name.empty() || name.size() > kMaxNameLength) return false;
    // Windows drops a final dot or space, so "a." would become "a" ("." and
    // ".." among them).
    if (name.back() == '.' || name.back() == ' ') return false;
    for (char c : name) {
        if (static_cast<unsigned char>(c) < 0x20) return false;
        if (std::string_view("<>:\"/\\|?*").find(c) != std::string_view::npos) return false;
    }
    return !is_device_name(name);
}

bool is_index_name(std::string_view name) {
    if (name.size() != kIndexName.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(name[i])) != kIndexName[i]) return false;
    return true;
}

std::string printable_name(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out;
}

std::string refused_name_message(std::string_view name) {
    return format(
        "Member \"%s\" is refused: a member name must be a name that Windows can hold as an ordinary file: not "
        "empty, not a device name (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9, with or without an "
        "extension), not ending in a dot or a space, and without control characters or any of < > : \" / \\ | ? *",
        {printable_name(name)});
}

}  // namespace vid::fl3
