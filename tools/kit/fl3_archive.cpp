#include "kit/fl3_archive.h"

#include <algorithm>

#include "kit/kit.h"
#include "platform/file.h"

namespace vid::kit {

namespace {

void put_header(Bytes& out, std::uint32_t dir_length, std::uint32_t dir_offset, std::uint16_t count) {
    put_text(out, "FL3.");
    put_u32(out, 48);
    put_u16(out, 28);
    put_u32(out, dir_length);
    put_u32(out, dir_offset);
    put_u16(out, count);
    out.insert(out.end(), 8, 0);
}

}  // namespace

Bytes fl3_index(const std::vector<Member>& members, ByteView tail) {
    Bytes d;
    for (const auto& [name, bytes] : members) {
        put_u32(d, static_cast<std::uint32_t>(bytes.size()));
        put_u8(d, static_cast<std::uint8_t>(name.size()));
        put_text(d, name);
    }
    put_u32(d, 0xFFFFFFFFu);
    d.insert(d.end(), tail.begin(), tail.end());
    return d;
}

Bytes fl3_archive(const std::vector<Member>& members, ByteView index_tail) {
    Bytes index = fl3_index(members, index_tail);
    std::size_t data = 0;
    for (const auto& m : members) data += m.second.size();
    Bytes out;
    put_header(out, static_cast<std::uint32_t>(index.size()), static_cast<std::uint32_t>(28 + data),
               static_cast<std::uint16_t>(members.size()));
    for (const auto& m : members) out.insert(out.end(), m.second.begin(), m.second.end());
    // The packer writes the entries and the end marker, not the index's tail.
    out.insert(out.end(), index.begin(), index.end() - static_cast<std::ptrdiff_t>(index_tail.size()));
    return out;
}

bool write_fl3_file(const std::string& path, const std::vector<Fl3Spec>& members, std::uint64_t seed) {
    auto f = platform::File::open(path, platform::OpenMode::create_always);
    if (!f) return false;
    Bytes dir;
    std::uint64_t data = 0;
    for (const auto& m : members) {
        put_u32(dir, m.size);
        put_u8(dir, static_cast<std::uint8_t>(m.name.size()));
        put_text(dir, m.name);
        data += m.size;
    }
    put_u32(dir, 0xFFFFFFFFu);
    Bytes head;
    put_header(head, static_cast<std::uint32_t>(dir.size()), static_cast<std::uint32_t>(28 + data),
               static_cast<std::uint16_t>(members.size()));
    if (!f->write(head)) return false;

    Rng rng(seed);
    Bytes buf(std::size_t{1} << 20);
    std::size_t fill = 0;
    for (const auto& m : members) {
        for (std::uint64_t left = m.size; left > 0;) {
            std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, buf.size() - fill));
            // Eight bytes per step of the generator.
            for (std::size_t i = 0; i < n; i += 8) {
                std::uint64_t v = rng.next();
                for (std::size_t k = 0; k < 8 && i + k < n; ++k) buf[fill + i + k] = static_cast<std::uint8_t>(v >> (8 * k));
            }
            fill += n;
            left -= n;
            if (fill == buf.size()) {
                if (!f->write(buf)) return false;
                fill = 0;
            }
        }
    }
    if (!f->write(ByteView(buf).first(fill)) || !f->write(dir)) return false;
    return f->close();
}

}  // namespace vid::kit
