// Shared helpers of the unit tests: a Ui that records what jobs ask of it,
// and a scratch folder with file helpers.
#pragma once

#include <cstdint>
#include <filesystem>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "core/bytes.h"
#include "core/ui.h"

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
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }
    std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }

private:
    std::string path_;
};

void write_file(const std::string& path, const Bytes& data);
void write_file(const std::string& path, std::string_view text);
Bytes read_file(const std::string& path);
bool file_exists(const std::string& path);

inline Bytes bytes_of(std::string_view s) { return Bytes(s.begin(), s.end()); }
// "0102 61 62" -> the bytes 01 02 61 62 (digit pairs never straddle a blank).
inline Bytes hex(std::string_view text) {
    Bytes out;
    for (std::size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] != ' ') out.push_back(static_cast<std::uint8_t>(std::stoul(std::string(text.substr(i++, 2)), nullptr, 16)));
    return out;
}

// The names in a folder.
inline std::set<std::string> names_in(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

}  // namespace vid::test

namespace vid {
// Bytes one after the other: hex("01") + bytes_of("ab").
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
}  // namespace vid
