// The FL3 archive and its directory.
//
// An archive is a 28-byte header, the members' bytes one after the other
// from offset 28 in directory order, and a directory: entries of
// (u32 size, u8 name length, name bytes) closed by the u32 end marker
// 0xFFFFFFFF. The index file `_index.bin` holds the same bytes as the
// directory. All integers are little-endian.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"

namespace vid::fl3 {

inline constexpr std::uint32_t kHeaderSize = 28;
inline constexpr std::uint32_t kEndMarker = 0xFFFFFFFFu;
inline constexpr std::size_t kMaxEntries = 65535;             // u16 entry count
inline constexpr std::uint32_t kMaxMemberSize = 0xFFFFFFFEu;  // the end marker is not a size
inline constexpr std::size_t kMaxNameLength = 255;            // u8 name length
inline constexpr std::string_view kIndexName = "_index.bin";
// What the header's u32 at offset 4 holds: the digit "0" after "FL3.".
inline constexpr std::uint32_t kVersionField = 48;

// The header fields that a reader uses. Magic, version and the header's
// own length are written but never relied upon.
struct Header {
    std::uint32_t dir_length = 0;  // bytes of the index file the archive was built from
    std::uint32_t dir_offset = 0;  // where the directory starts
    std::uint16_t entry_count = 0;
    bool operator==(const Header&) const = default;
};

// The 28 header bytes as written: "FL3.", u32 48, u16 28, the three fields
// above and 8 zero bytes.
std::array<std::uint8_t, kHeaderSize> header_bytes(const Header& h);
// Reads the fields of a header; nullopt when fewer than 28 bytes are given.
std::optional<Header> parse_header(ByteView bytes);

// One directory entry as read, with its data's place in the archive.
struct Entry {
    std::uint32_t size = 0;
    std::string name;            // 0 to 255 bytes, exactly as stored
    std::uint64_t position = 0;  // offset of the data, counted from the end of the header
};

// Appends one directory entry. `name` must be at most 255 bytes.
void put_entry(Bytes& out, std::uint32_t size, std::string_view name);

// Where directory bytes come from. read() fills as much of `out` as the
// data hold and returns the count; fewer than asked means the data end.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::size_t read(std::span<std::uint8_t> out) = 0;
};

// A source over bytes already in memory.
class MemorySource : public ByteSource {
public:
    explicit MemorySource(ByteView data) : data_(data) {}
    std::size_t read(std::span<std::uint8_t> out) override;

private:
    ByteView data_;
    std::size_t pos_ = 0;
};

// A directory as far as it could be read.
struct Directory {
    enum class End {
        marker,       // the end marker closed it
        end_of_data,  // the data ended first (inside an entry or before the marker)
        limit,        // `max_entries` entries were read and the next one is not the marker
    };
    std::vector<Entry> entries;  // complete entries, positions filled in
    End end = End::end_of_data;
    std::uint64_t length = 0;  // bytes of the entries read, plus 4 for the marker when found
};

// Reads directory entries until the end marker, the end of the data, or
// `max_entries` entries (after which one more u32 is read to see whether
// the marker follows). Never reads more than the directory needs.
Directory read_directory(ByteSource& source, std::size_t max_entries);

// True for a name that may become a file of the member folder on every
// system: 1 to 255 bytes, none below 32, none of < > : " / \ | ? *, not
// ending in a dot or a space, and not a Windows device name (CON, PRN, AUX,
// NUL, COM1 to COM9, LPT1 to LPT9, with or without an extension).
bool is_safe_name(std::string_view name);

// True for "_index.bin" in any case: the index file's own name, which no
// member may take.
bool is_index_name(std::string_view name);

// The name as shown in a message: control bytes as "\xNN", the rest as stored.
std::string printable_name(std::string_view name);

// The explanation of a refused name, naming the member.
std::string refused_name_message(std::string_view name);

}  // namespace vid::fl3
