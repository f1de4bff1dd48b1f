// Shared helpers of the unit tests: a Ui that records what jobs ask of it,
// and a scratch folder with file helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "core/ui.h"

namespace vid {
// Bytes one after the other: hex("01") + bytes_of("ab").
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
}  // namespace vid

namespace vid::test {

// One request of a job to its surroundings, in the order it was made.
struct Event {
    enum Kind { status_now, status_later, alert, node } kind;
    std::string text;
    int level = 0;
    bool operator==(const Event&) const = default;
};

class RecordingUi : public Ui {
public:
    explicit RecordingUi(bool listing_view = false) : view_(listing_view) {}
    void status(std::string_view text, Draw draw) override {
        events.push_back({draw != Draw::later ? Event::status_now : Event::status_later, std::string(text)});
    }
    void alert(std::string_view text) override { events.push_back({Event::alert, std::string(text)}); }
    void add_node(std::string_view text, int level) override {
        if (view_) events.push_back({Event::node, std::string(text), level});
    }
    bool has_listing_view() const override { return view_; }

    std::vector<std::string> texts(Event::Kind kind) const {
        std::vector<std::string> out;
        for (const auto& e : events)
            if (e.kind == kind) out.push_back(e.text);
        return out;
    }
    std::vector<std::string> alerts() const { return texts(Event::alert); }
    std::string last_status() const {
        for (auto it = events.rbegin(); it != events.rend(); ++it)
            if (it->kind == Event::status_now || it->kind == Event::status_later) return it->text;
        return {};
    }

    std::vector<Event> events;

private:
    bool view_;
};

// A fresh folder under the system's temporary folder, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::random_device rd;
        for (int attempt = 0; attempt < 100; ++attempt) {
            const auto p = std::filesystem::temp_directory_path() / ("vidodide-test-" + std::to_string(rd()));
            if (std::filesystem::create_directory(p)) {
                path_ = p.string();
                return;
            }
        }
        throw std::runtime_error("cannot create a scratch folder");
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

inline Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }
inline void write_file(const std::string& path, const Bytes& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}
inline void write_file(const std::string& path, std::string_view text) { write_file(path, bytes_of(text)); }
inline Bytes read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
inline bool file_exists(const std::string& path) { return std::filesystem::exists(path); }
// "0102 61 62" -> the bytes 01 02 61 62 (digit pairs never straddle a blank).
inline Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != ' ') out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i++, 2)), nullptr, 16)));
    return out;
}

// Little-endian bytes of a 32-bit value.
inline Bytes u32(std::uint32_t v) { return {std::uint8_t(v), std::uint8_t(v >> 8), std::uint8_t(v >> 16), std::uint8_t(v >> 24)}; }

// FL3 bytes by hand: the header ("FL3." 30 00 00 00 1C 00, then directory
// length, offset, count and 8 zeros), a directory entry, the end marker.
inline Bytes hdr(std::uint32_t dir_length, std::uint32_t dir_offset, std::uint16_t count) {
    return bytes_of("FL3.") + Bytes{0x30, 0, 0, 0, 0x1C, 0} + u32(dir_length) + u32(dir_offset) +
           Bytes{std::uint8_t(count), std::uint8_t(count >> 8)} + Bytes(8, 0);
}
inline Bytes ent(std::uint32_t size, std::string_view name) { return u32(size) + Bytes{std::uint8_t(name.size())} + bytes_of(name); }
inline const Bytes kEnd{0xFF, 0xFF, 0xFF, 0xFF};

// WAV bytes by hand: a chunk (with its pad byte after an odd size), a plain
// "fmt " body (tag, channels, rate, block align, bits), the RIFF form.
inline Bytes chunk(std::string_view id, const Bytes& body, std::optional<std::uint32_t> size = std::nullopt) {
    Bytes b = bytes_of(id) + u32(size.value_or(static_cast<std::uint32_t>(body.size()))) + body;
    if (body.size() % 2 == 1) b.push_back(0);
    return b;
}
inline Bytes fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t align, std::uint16_t bits) {
    Bytes b;
    put_u16(b, tag), put_u16(b, channels), put_u32(b, rate), put_u32(b, rate * align), put_u16(b, align), put_u16(b, bits);
    return b;
}
inline Bytes riff(std::initializer_list<Bytes> chunks, std::optional<std::uint32_t> size = std::nullopt) {
    Bytes body = bytes_of("WAVE");
    for (const Bytes& c : chunks) body = body + c;
    return bytes_of("RIFF") + u32(size.value_or(static_cast<std::uint32_t>(body.size()))) + body;
}
// A WAV file of 16-bit mono samples at 8000 Hz.
inline Bytes wav_mono(const std::vector<std::int16_t>& samples) {
    Bytes data;
    for (const std::int16_t v : samples) put_u16(data, static_cast<std::uint16_t>(v));
    return riff({chunk("fmt ", fmt(1, 1, 8000, 2, 16)), chunk("data", data)});
}

// A bitmap file's headers up to its bit count: size, offset, a 40-byte
// info header of `width` x `height`; the rest of the 54 bytes follow.
inline Bytes bmp_head(std::uint32_t size, std::uint32_t offset, std::uint32_t width, std::uint32_t height,
                      std::uint16_t bits) {
    Bytes f{'B', 'M'};
    for (std::uint32_t v : {size, 0u, offset, 40u, width, height}) put_u32(f, v);
    put_u16(f, 1), put_u16(f, bits);
    return f;
}

// Bytes that never repeat at any distance a copy could slip by.
inline Bytes pattern(std::size_t n, std::uint32_t seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>((seed = seed * 1103515245u + 12345u) >> 16);
    return b;
}

// The names in a folder.
inline std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace vid::test

