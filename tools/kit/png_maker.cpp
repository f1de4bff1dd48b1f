#include "kit/png_maker.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace vid::kit {

namespace {

void put_be32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(v >> shift));
}

// `raw` then `zeros` zero bytes, deflated in pieces (a zlib stream).
Bytes deflated(ByteView raw, std::uint64_t zeros, int level) {
    z_stream z{};
    if (deflateInit(&z, level) != Z_OK) throw std::runtime_error("deflateInit");
    static const Bytes kZeros(1 << 16, 0);
    Bytes out;
    Bytes buf(1 << 16);
    const auto run = [&](ByteView in, int flush) {
        z.next_in = const_cast<Bytef*>(in.data());
        z.avail_in = static_cast<uInt>(in.size());
        do {
            z.next_out = buf.data();
            z.avail_out = static_cast<uInt>(buf.size());
            deflate(&z, flush);
            out.insert(out.end(), buf.begin(), buf.end() - z.avail_out);
        } while (z.avail_out == 0 || z.avail_in > 0);
    };
    run(raw, Z_NO_FLUSH);
    for (std::uint64_t left = zeros; left > 0;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, kZeros.size()));
        run(ByteView(kZeros.data(), n), Z_NO_FLUSH);
        left -= n;
    }
    run({}, Z_FINISH);
    deflateEnd(&z);
    return out;
}

}  // namespace

Bytes png_chunk(const char* type, ByteView body) {
    Bytes c;
    put_be32(c, static_cast<std::uint32_t>(body.size()));
    for (int k = 0; k < 4; ++k) c.push_back(static_cast<std::uint8_t>(type[k]));
    c.insert(c.end(), body.begin(), body.end());
    put_be32(c, static_cast<std::uint32_t>(crc32(0, c.data() + 4, static_cast<uInt>(c.size() - 4))));
    return c;
}

Bytes png_file(const PngParts& p) {
    Bytes out{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    const auto add = [&out](const char* type, ByteView body) {
        const Bytes c = png_chunk(type, body);
        out.insert(out.end(), c.begin(), c.end());
    };
    Bytes ihdr;
    put_be32(ihdr, p.width);
    put_be32(ihdr, p.height);
    for (const std::uint8_t b : {p.depth, p.colour, std::uint8_t{0}, std::uint8_t{0}, p.interlace}) ihdr.push_back(b);
    add("IHDR", ihdr);
    if (!p.plte.empty()) add("PLTE", p.plte);
    if (!p.trns.empty()) add("tRNS", p.trns);
    const Bytes data = deflated(p.raw, p.zeros, p.level);
    const std::size_t piece = p.idat ? p.idat : std::max<std::size_t>(data.size(), 1);
    for (std::size_t at = 0; at < data.size(); at += piece)
        add("IDAT", ByteView(data).subspan(at, std::min(piece, data.size() - at)));
    if (p.iend) add("IEND", {});
    return out;
}

}  // namespace vid::kit
