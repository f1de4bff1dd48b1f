// PNG files, read and written with libspng.
//
// Reading is progressive: the file's bytes are pulled as the rows need
// them and each row is decoded straight into the picture, so memory stays
// that of the picture (at most kMaxPixels) and a few rows, however large
// the file. The image data are inflated a second time alongside, by a
// check of our own that never inflates more than one byte past what the
// header's size needs (row filter bytes and Adam7 passes included): data
// that go on past that are refused, as are data that end short.
#include <spng.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <new>

#include "bm2/image.h"

namespace vid::bm2 {

namespace {

// What the chunks other than the picture's (text, colour profile...) may
// take: one of them once inflated, and all that libspng keeps of them.
constexpr std::size_t kChunkLimit = std::size_t{4} << 20;
constexpr std::size_t kChunkCache = std::size_t{8} << 20;

std::uint32_t be32(const std::uint8_t* p) {
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

// The bytes of inflated image data that a PNG header describes: one filter
// byte and the packed samples per row, per Adam7 pass when interlaced.
// Zero when the header is not one that libspng reads.
std::uint64_t raw_size(const std::uint8_t* ihdr) {
    const std::uint64_t width = be32(ihdr), height = be32(ihdr + 4);
    const unsigned depth = ihdr[8], type = ihdr[9], interlace = ihdr[12];
    static constexpr unsigned kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    if (type > 6 || kChannels[type] == 0 || depth == 0 || depth > 16 || interlace > 1) return 0;
    const std::uint64_t bits = std::uint64_t{kChannels[type]} * depth;
    const auto rows = [bits](std::uint64_t w, std::uint64_t h) { return w && h ? h * (1 + (w * bits + 7) / 8) : 0; };
    if (interlace == 0) return rows(width, height);
    static constexpr unsigned kX0[7] = {0, 4, 0, 2, 0, 1, 0}, kDx[7] = {8, 8, 4, 4, 2, 2, 1};
    static constexpr unsigned kY0[7] = {0, 0, 4, 0, 2, 0, 1}, kDy[7] = {8, 8, 8, 4, 4, 2, 2};
    std::uint64_t total = 0;
    for (int p = 0; p < 7; ++p) {
        const std::uint64_t w = width > kX0[p] ? (width - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
        const std::uint64_t h = height > kY0[p] ? (height - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
        total += rows(w, h);
    }
    return total;
}

// Follows the chunks of the bytes given to it and inflates the image data
// (the IDAT chunks) into a scratch buffer, never more than one byte past
// the size that IHDR needs.
class InflateCheck {
public:
    InflateCheck() { ok_ = inflateInit(&z_) == Z_OK; }
    ~InflateCheck() {
        if (ok_) inflateEnd(&z_);
    }
    InflateCheck(const InflateCheck&) = delete;
    InflateCheck& operator=(const InflateCheck&) = delete;

    void feed(const std::uint8_t* p, std::size_t n) {
        while (n > 0 && !done_) {
            if (skip_ > 0) {  // the signature, a chunk's CRC, or a chunk that is not looked at
                const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(skip_, n));
                skip_ -= k, p += k, n -= k;
                continue;
            }
            if (left_ == 0 && !in_header_) in_header_ = true, got_ = 0;
            if (in_header_) {
                const std::size_t k = std::min<std::size_t>(8 - got_, n);
                std::memcpy(header_.data() + got_, p, k);
                got_ += k, p += k, n -= k;
                if (got_ < 8) continue;
                in_header_ = false;
                left_ = be32(header_.data());
                idat_ = std::memcmp(header_.data() + 4, "IDAT", 4) == 0;
                ihdr_ = std::memcmp(header_.data() + 4, "IHDR", 4) == 0 && left_ == 13;
                if (!idat_ && !ihdr_) skip_ = left_ + 4, left_ = 0;
                if (left_ == 0 && (idat_ || ihdr_)) skip_ = 4;
                got_ = 0;
                continue;
            }
            const std::size_t k = static_cast<std::size_t>(std::min<std::uint64_t>(left_, n));
            if (ihdr_) {
                std::memcpy(ihdr_bytes_.data() + got_, p, k);
                got_ += k;
                if (got_ == 13) need_ = raw_size(ihdr_bytes_.data());
            } else {
                inflate_some(p, k);
            }
            left_ -= k, p += k, n -= k;
            if (left_ == 0) skip_ = 4;
        }
    }
    // The data inflated past what the header needs.
    bool too_long() const { return too_long_; }
    std::uint64_t needed() const { return need_; }

private:
    void inflate_some(const std::uint8_t* p, std::size_t n) {
        if (!ok_ || need_ == 0) return;
        z_.next_in = const_cast<Bytef*>(p);
        z_.avail_in = static_cast<uInt>(n);
        while (z_.avail_in > 0 && !done_) {
            const std::uint64_t room = need_ + 1 - z_.total_out;
            z_.next_out = scratch_.data();
            z_.avail_out = static_cast<uInt>(std::min<std::uint64_t>(scratch_.size(), room));
            const int r = inflate(&z_, Z_NO_FLUSH);
            if (z_.total_out > need_) too_long_ = true;
            // The end of the stream, a byte too many, or damaged data (libspng says what).
            if (r != Z_OK || too_long_) done_ = true;
        }
    }

    z_stream z_{};
    bool ok_ = false;
    bool done_ = false;
    bool too_long_ = false;
    std::uint64_t skip_ = 8;  // the signature
    std::uint64_t left_ = 0;  // bytes of the current chunk's data still to come
    bool in_header_ = false;
    bool idat_ = false;
    bool ihdr_ = false;
    std::size_t got_ = 0;
    std::array<std::uint8_t, 8> header_{};
    std::array<std::uint8_t, 13> ihdr_bytes_{};
    std::uint64_t need_ = 0;
    std::array<std::uint8_t, 16384> scratch_{};
};

struct Source {
    const ReadSome& read;
    InflateCheck check;
};

int read_fn(spng_ctx*, void* user, void* dest, std::size_t length) {
    auto* s = static_cast<Source*>(user);
    auto* out = static_cast<std::uint8_t*>(dest);
    std::size_t got = 0;
    while (got < length) {
        const std::size_t n = s->read(std::span<std::uint8_t>(out + got, length - got));
        if (n == 0) break;
        got += n;
    }
    s->check.feed(out, got);
    if (s->check.too_long()) return SPNG_IO_ERROR;
    return got == length ? 0 : SPNG_IO_EOF;
}

using Context = std::unique_ptr<spng_ctx, void (*)(spng_ctx*)>;

std::string unreadable(int error) { return std::string("it is not a readable PNG image (") + spng_strerror(error) + ")"; }

}  // namespace

std::optional<Picture> read_png(const ReadSome& read, std::string& why) {
    Source source{read, {}};
    Context ctx(spng_ctx_new(0), spng_ctx_free);
    if (!ctx) throw std::bad_alloc();
    spng_set_chunk_limits(ctx.get(), kChunkLimit, kChunkCache);
    spng_set_png_stream(ctx.get(), read_fn, &source);
    spng_ihdr ihdr{};
    if (const int r = spng_get_ihdr(ctx.get(), &ihdr)) {
        why = r == SPNG_IO_EOF ? "it ends inside its header" : unreadable(r);
        return std::nullopt;
    }
    const std::uint64_t width = ihdr.width, height = ihdr.height;
    if (width * height > kMaxPixels) {
        why = "it has " + std::to_string(width) + "x" + std::to_string(height) + " pixels, more than " +
              std::to_string(kMaxPixels) + " in all";
        return std::nullopt;
    }
    const auto fail = [&](int r, const char* eof_text) -> std::optional<Picture> {
        if (r == SPNG_EMEM) throw std::bad_alloc();
        if (source.check.too_long())
            why = "its compressed image data inflate past the " + std::to_string(source.check.needed()) +
                  " bytes that its " + std::to_string(width) + "x" + std::to_string(height) + " pixels need";
        else if (r == SPNG_IO_EOF)
            why = eof_text;
        else if (r == SPNG_ECHUNK_LIMITS)
            why = "its chunks besides the image data are too many or too large (at most 1000 chunks; 4 MiB for one, "
                  "8 MiB in all)";
        else
            why = unreadable(r);
        return std::nullopt;
    };
    int r = spng_decode_image(ctx.get(), nullptr, 0, SPNG_FMT_RGBA8, SPNG_DECODE_PROGRESSIVE | SPNG_DECODE_TRNS);
    if (r) return fail(r, "it ends before its image data");
    Picture p;
    p.width = ihdr.width;
    p.height = ihdr.height;
    const std::size_t stride = std::size_t{p.width} * 4;
    p.rgba.resize(stride * p.height);
    for (;;) {
        spng_row_info row{};
        if ((r = spng_get_row_info(ctx.get(), &row)) != 0) break;
        r = spng_decode_row(ctx.get(), p.rgba.data() + std::size_t{row.row_num} * stride, stride);
        if (r) break;
    }
    if (r != SPNG_EOI) return fail(r, "it ends before its last row");
    // The chunks after the image, up to IEND.
    if ((r = spng_decode_chunks(ctx.get())) != 0) return fail(r, "it ends without its IEND chunk (the file is cut)");
    spng_trns trns{};
    p.has_alpha = ihdr.color_type == SPNG_COLOR_TYPE_GRAYSCALE_ALPHA ||
                  ihdr.color_type == SPNG_COLOR_TYPE_TRUECOLOR_ALPHA || spng_get_trns(ctx.get(), &trns) == 0;
    return p;
}

std::optional<Picture> read_png(ByteView file, std::string& why) {
    const ReadSome read = [&file](std::span<std::uint8_t> out) {
        const std::size_t n = std::min(out.size(), file.size());
        std::memcpy(out.data(), file.data(), n);
        file = file.subspan(n);
        return n;
    };
    return read_png(read, why);
}

Bytes write_png(const Picture& picture) {
    if (picture.width == 0 || picture.height == 0 || picture.width > 0x7FFFFFFF || picture.height > 0x7FFFFFFF ||
        picture.rgba.size() != std::size_t{picture.width} * picture.height * 4)
        return {};
    Context ctx(spng_ctx_new(SPNG_CTX_ENCODER), spng_ctx_free);
    if (!ctx) throw std::bad_alloc();
    Bytes out;
    const auto write_fn = [](spng_ctx*, void* user, void* data, std::size_t length) {
        auto* o = static_cast<Bytes*>(user);
        const auto* b = static_cast<const std::uint8_t*>(data);
        o->insert(o->end(), b, b + length);
        return 0;
    };
    spng_set_png_stream(ctx.get(), write_fn, &out);
    spng_ihdr ihdr{};
    ihdr.width = picture.width;
    ihdr.height = picture.height;
    ihdr.bit_depth = 8;
    ihdr.color_type = picture.has_alpha ? SPNG_COLOR_TYPE_TRUECOLOR_ALPHA : SPNG_COLOR_TYPE_TRUECOLOR;
    if (spng_set_ihdr(ctx.get(), &ihdr) ||
        spng_encode_image(ctx.get(), nullptr, 0, SPNG_FMT_PNG, SPNG_ENCODE_PROGRESSIVE | SPNG_ENCODE_FINALIZE))
        return {};
    const std::size_t stride = std::size_t{picture.width} * 4;
    Bytes rgb(picture.has_alpha ? 0 : std::size_t{picture.width} * 3);
    int r = 0;
    for (std::uint32_t y = 0; y < picture.height && r == 0; ++y) {
        const std::uint8_t* row = picture.rgba.data() + y * stride;
        if (picture.has_alpha) {
            r = spng_encode_row(ctx.get(), row, stride);
        } else {
            for (std::size_t x = 0; x < picture.width; ++x) std::memcpy(&rgb[3 * x], row + 4 * x, 3);
            r = spng_encode_row(ctx.get(), rgb.data(), rgb.size());
        }
    }
    if (r != SPNG_EOI) return {};
    return out;
}

}  // namespace vid::bm2
