// Seeds for each fuzz target, in the input layout that target reads.
#include "kit/fuzz_corpus.h"

#include <string_view>

#include "kit/fl3_archive.h"
#include "kit/lzss_bm2.h"
#include "kit/png_maker.h"
#include "kit/script_maker.h"
#include "kit/wv5_encode.h"
#include "script/decoder.h"
#include "script/listing.h"

namespace vid::kit {

namespace {

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

// fuzz_bm2: two bytes that choose the unpacked size, then an LZSS stream.
Member bm2_seed(std::string name, const Bytes& decoded) {
    Bytes seed;
    put_u16(seed, static_cast<std::uint16_t>(decoded.size()));
    const Bytes packed = lzss_encode(decoded);
    seed.insert(seed.end(), packed.begin(), packed.end());
    return {std::move(name), seed};
}

std::vector<Member> bm2_seeds() {
    std::vector<Member> s;
    s.push_back(bm2_seed("ordinary", bmp24(6, 4, 1)));
    s.push_back(bm2_seed("alpha24", bm2_alpha(24, 3, 2, alpha_picture(24, 3, 2, 2))));
    s.push_back(bm2_seed("alpha8", bm2_alpha(8, 5, 2, alpha_picture(8, 5, 2, 3))));
    s.push_back(bm2_seed("alpha24_missing_rows", bm2_alpha(24, 100, 100, Bytes(40, 7))));
    s.push_back(bm2_seed("alpha_cut_header", Bytes{'B', 'M', '2', 'A', 0, 0, 0, 0, 24}));
    s.push_back(bm2_seed("alpha16", bm2_alpha(16, 2, 2, Bytes(16, 1))));
    s.push_back(bm2_seed("repeats", Bytes(300, 'x')));
    // Hand-made streams: a match into the unwritten window, an overlapping
    // pattern, flags past the end of the data.
    s.push_back({"window_zeros", {6, 0, 0x05, 'A', 0x00, 0x01, 'B'}});
    s.push_back({"pattern", {8, 0, 0x03, 'a', 'b', 0xEE, 0xF3}});
    s.push_back({"flags_past_end", {4, 0, 0x07, 'z'}});
    return s;
}

// fuzz_bm2_image: a first byte of 0 passes the rest through as it stands:
// PNG and bitmap files whole, and the decoded data of alpha pictures.
Member image_seed(std::string name, const Bytes& file) {
    Bytes seed{0};
    seed.insert(seed.end(), file.begin(), file.end());
    return {std::move(name), seed};
}

PngParts png_parts(std::uint32_t w, std::uint32_t h, std::uint8_t depth, std::uint8_t colour, Bytes raw) {
    PngParts p;
    p.width = w, p.height = h, p.depth = depth, p.colour = colour, p.raw = std::move(raw);
    return p;
}

// A bitmap file of one pixel row: header of `info` bytes, `bits` per
// pixel, `compression`, masks at 54, colour table, the row.
Bytes bitmap_seed(std::uint32_t info, std::uint32_t width, std::uint16_t bits, std::uint32_t compression,
                  std::uint32_t used, const std::vector<std::uint32_t>& masks, const Bytes& table, const Bytes& row) {
    const auto at = static_cast<std::uint32_t>(14 + info + (info == 40 ? 4 * masks.size() : 0) + table.size());
    Bytes f{'B', 'M'};
    for (std::uint32_t v : {0u, 0u, at, info, width, 1u}) put_u32(f, v);
    put_u16(f, 1), put_u16(f, bits);
    for (std::uint32_t v : {compression, 0u, 0u, 0u, used, 0u}) put_u32(f, v);
    for (std::uint32_t m : masks) put_u32(f, m);
    f.resize(std::max<std::size_t>(f.size(), 14 + info), 0);
    f.insert(f.end(), table.begin(), table.end());
    f.insert(f.end(), row.begin(), row.end());
    return f;
}

std::vector<Member> image_seeds() {
    const Bytes rgba1 = {0, 1, 2, 3, 4};
    const Bytes adam7 = {0, 1, 0, 21, 0, 61, 81, 0, 11, 0, 71, 0, 31, 41, 51};
    std::vector<Member> s;
    s.push_back(image_seed("png_rgba", png_file(png_parts(1, 1, 8, 6, rgba1))));
    s.push_back(image_seed("png_one_byte_past", png_file(png_parts(1, 1, 8, 6, {0, 1, 2, 3, 4, 0}))));
    PngParts bomb = png_parts(1, 1, 8, 6, rgba1);
    bomb.zeros = 1 << 16;
    bomb.level = 9;
    s.push_back(image_seed("png_inflates_past", png_file(bomb)));
    s.push_back(image_seed("png_short", png_file(png_parts(1, 1, 8, 6, {0, 1, 2, 3}))));
    PngParts cut = png_parts(1, 1, 8, 6, rgba1);
    cut.iend = false;
    s.push_back(image_seed("png_no_iend", png_file(cut)));
    PngParts interlaced = png_parts(3, 3, 8, 0, adam7);
    interlaced.interlace = 1;
    s.push_back(image_seed("png_adam7", png_file(interlaced)));
    PngParts deep = png_parts(1, 1, 16, 2, {0, 0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC});
    deep.idat = 3;
    s.push_back(image_seed("png_16bit_split", png_file(deep)));
    PngParts palette = png_parts(2, 1, 8, 3, {0, 1, 0});
    palette.plte = {10, 20, 30, 40, 50, 60};
    palette.trns = {128};
    s.push_back(image_seed("png_palette_trns", png_file(palette)));
    s.push_back(image_seed("png_too_many_pixels", png_file(png_parts((1u << 21) + 1, 1, 1, 0, {0}))));
    const std::vector<std::uint32_t> usual = {0x00FF0000, 0x0000FF00, 0x000000FF};
    s.push_back(image_seed("bmp_v4", bitmap_seed(108, 1, 32, 3, 0, usual, {}, {1, 2, 3, 0})));
    s.push_back(image_seed("bmp_v5", bitmap_seed(124, 1, 24, 0, 0, {}, {}, {1, 2, 3, 0})));
    s.push_back(image_seed("bmp_masks_565", bitmap_seed(124, 1, 32, 3, 0, {0xF800, 0x07E0, 0x001F}, {}, {1, 2, 3, 0})));
    s.push_back(image_seed("bmp_index_past_table",
                           bitmap_seed(40, 3, 8, 0, 2, {}, {10, 20, 30, 0, 40, 50, 60, 0}, {1, 2, 0, 0})));
    Bytes cut_row = bitmap_seed(40, 2, 24, 0, 0, {}, {}, Bytes(8, 7));
    cut_row.pop_back();
    s.push_back(image_seed("bmp_cut_row", cut_row));
    s.push_back(image_seed("alpha_header_cut", {'B', 'M', '2', 'A', 0, 0, 0, 0, 24, 0}));
    s.push_back(image_seed("alpha8", bm2_alpha(8, 5, 2, alpha_picture(8, 5, 2, 3))));
    return s;
}

std::vector<Member> wv5_seeds() {
    Bytes codes(256);
    for (std::size_t i = 0; i < codes.size(); ++i) codes[i] = static_cast<std::uint8_t>(i);
    std::vector<Member> s;
    s.push_back({"kind0", Wv5Builder(1, 8000).run0({10, 138, 0}).finish()});
    s.push_back({"kind1_two_channels", Wv5Builder(2, 22050).run1(codes).finish()});
    s.push_back({"kind3", Wv5Builder(1, 11025).run3(1000, 1).run3(0, 5).finish()});
    s.push_back({"kind_k", Wv5Builder(2, 8000).repeat(5, 2).repeat(255, 130).repeat(2, 1).finish()});
    s.push_back({"three_channels", Wv5Builder(3, 8000).repeat(4, 3).run0({1}).finish()});
    s.push_back({"frames_disagree", Wv5Builder(1, 8000).repeat(5, 1).finish(100)});
    s.push_back({"ends_early", Wv5Builder(1, 8000).run0({1}).raw_run(Bytes{0, 5, 1, 1}).finish()});
    s.push_back({"more_runs_announced", Wv5Builder(1, 8000).repeat(2, 1).finish(std::nullopt, 5)});
    return s;
}

// fuzz_wav: WAV files. A chunk (with its pad byte after an odd size), a
// "fmt " body, and a RIFF form of chunks.
Bytes wav_chunk(std::string_view id, const Bytes& body) {
    Bytes c = text(id);
    put_u32(c, static_cast<std::uint32_t>(body.size()));
    c.insert(c.end(), body.begin(), body.end());
    if (body.size() % 2 == 1) c.push_back(0);
    return c;
}
Bytes wav_fmt(std::uint16_t tag, std::uint16_t channels, std::uint16_t bits) {
    Bytes f;
    const auto align = static_cast<std::uint16_t>(channels * bits / 8);
    put_u16(f, tag), put_u16(f, channels), put_u32(f, 8000), put_u32(f, 8000u * align), put_u16(f, align);
    put_u16(f, bits);
    return f;
}
Bytes wav_form(std::initializer_list<Bytes> chunks) {
    Bytes body = text("WAVE");
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    Bytes w = text("RIFF");
    put_u32(w, static_cast<std::uint32_t>(body.size()));
    w.insert(w.end(), body.begin(), body.end());
    return w;
}

std::vector<Member> wav_seeds() {
    const Bytes steps = {13, 0, 0, 0, 0xFF, 0x7F, 0xFE, 0xFF, 0x10, 0x27, 0xF0, 0xD8};
    Bytes extensible = wav_fmt(0xFFFE, 2, 16);
    put_u16(extensible, 22), put_u16(extensible, 16), put_u32(extensible, 3), put_u16(extensible, 1);
    const Bytes tail = {0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    extensible.insert(extensible.end(), tail.begin(), tail.end());
    std::vector<Member> s;
    s.push_back({"mono", wav_form({wav_chunk("fmt ", wav_fmt(1, 1, 16)), wav_chunk("data", steps)})});
    s.push_back({"stereo_list_first",
                 wav_form({wav_chunk("LIST", text("INF")), wav_chunk("fmt ", wav_fmt(1, 2, 16)), wav_chunk("data", steps)})});
    s.push_back({"extensible", wav_form({wav_chunk("fmt ", extensible), wav_chunk("data", steps)})});
    s.push_back({"data_first", wav_form({wav_chunk("data", steps), wav_chunk("fmt ", wav_fmt(1, 1, 16))})});
    s.push_back({"eight_bit", wav_form({wav_chunk("fmt ", wav_fmt(1, 1, 8)), wav_chunk("data", steps)})});
    Bytes cut = wav_form({wav_chunk("fmt ", wav_fmt(1, 1, 16)), wav_chunk("data", steps)});
    cut.resize(cut.size() - 3);
    s.push_back({"cut", cut});
    return s;
}

std::vector<Member> fl3_seeds() {
    std::vector<Member> s;
    s.push_back({"empty", fl3_archive({})});
    s.push_back({"one", fl3_archive({{"readme.txt", text("hello")}})});
    s.push_back({"three", fl3_archive({{"a.bm2", Bytes(40, 1)}, {"empty.dat", {}}, {"scene01.ab", text("\x01\x06")}})});
    s.push_back({"index_tail", fl3_archive({{"x", text("xyz")}}, text("tail"))});
    return s;
}

std::vector<Member> script_seeds(std::vector<Bytes>& scripts) {
    std::vector<Member> s;
    for (auto& m : sample_scripts()) {
        scripts.push_back(m.second);
        s.push_back(std::move(m));
    }
    Rng rng(0xF022);
    for (Bytes& one : each_opcode(rng)) {
        const auto opcode = static_cast<std::uint16_t>(one[0] | (one[1] << 8));
        s.push_back({"opcode_" + script::value_text(opcode, 4).substr(2), std::move(one)});
    }
    s.push_back({"cut", Bytes{0x02, 0x00, 0xEF, 0xCD}});
    s.push_back({"tail", Bytes{0x00, 0x80, 1, 0, 0, 0, 1, 1, 2, 3, 4, 5}});
    return s;
}

// The listings of the scripts, as Decode AB writes them.
std::vector<Member> listing_seeds(const std::vector<Bytes>& scripts) {
    struct Lines : script::ItemSink {
        script::ListingBuffer buf{nullptr};
        void item(std::string_view label, std::string_view value, int level) override {
            buf.append_item(label, value, level);
        }
    };
    std::vector<Member> s;
    int k = 0;
    for (const Bytes& script : scripts) {
        Lines lines;
        script::decode_script(script, lines);
        s.push_back({"listing" + std::to_string(k++), text(lines.buf.pending())});
    }
    s.push_back({"no_number", text("0x0002\nnone\n")});
    s.push_back({"crlf_and_long", text("0x0605\r\n" + std::string(300, 'n') + "\r\n0x8000\r\n0x1234\r\n0x02\r\n")});
    return s;
}

}  // namespace

std::vector<Corpus> fuzz_corpora() {
    std::vector<Bytes> scripts;
    std::vector<Corpus> out;
    out.push_back({"fuzz_bm2", bm2_seeds()});
    out.push_back({"fuzz_bm2_image", image_seeds()});
    out.push_back({"fuzz_wv5", wv5_seeds()});
    out.push_back({"fuzz_wav", wav_seeds()});
    out.push_back({"fuzz_fl3", fl3_seeds()});
    out.push_back({"fuzz_script_decode", script_seeds(scripts)});
    out.push_back({"fuzz_script_encode", listing_seeds(scripts)});
    return out;
}

}  // namespace vid::kit
