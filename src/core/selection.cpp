#include "core/selection.h"

#include <algorithm>

#include "core/bytes.h"
#include "core/text.h"

namespace vid {

namespace {

// The zero-terminated string at `pos`, bounded by the buffer's end.
std::string_view string_at(std::span<const char> buffer, std::size_t pos) {
    if (pos >= buffer.size()) return {};
    auto begin = buffer.begin() + static_cast<std::ptrdiff_t>(pos);
    auto end = std::find(begin, buffer.end(), '\0');
    return std::string_view(&*begin, static_cast<std::size_t>(end - begin));
}

}  // namespace

Selection walk_selection(std::span<const char> buffer) {
    Selection out;
    std::string_view first = string_at(buffer, 0);
    if (first.empty()) return out;
    std::size_t pos = first.size() + 1;
    if (pos >= buffer.size() || buffer[pos] == '\0') {
        out.single = true;
        out.cut = out.last_cut = pos > buffer.size();
        out.paths.emplace_back(first);
        return out;
    }
    out.folder = first;
    for (;;) {
        std::string_view name = string_at(buffer, pos);
        if (name.empty()) {
            out.cut = pos >= buffer.size();
            out.last_cut = pos > buffer.size();
            break;
        }
        std::string path = out.folder;
        path += '\\';
        path += name;
        out.paths.push_back(std::move(path));
        pos += name.size() + 1;
    }
    return out;
}

std::vector<std::string> split_quoted_names(std::string_view text) {
    std::vector<std::string> names;
    if (text.empty()) return names;
    if (text.front() != '"') {
        names.emplace_back(text);
        return names;
    }
    std::string current;
    for (std::size_t i = 1; i < text.size(); ++i) {
        const char c = text[i];
        if (c != '"') {
            current.push_back(c);
            continue;
        }
        if (current.empty()) return names;
        names.push_back(std::move(current));
        current.clear();
        if (i + 1 < text.size() && text[i + 1] == ' ') i += 2;  // the space and the next opening quote
    }
    if (!current.empty()) names.push_back(std::move(current));
    return names;
}

std::string buffer_too_small_text(std::span<const char> buffer) {
    unsigned need = 0;
    if (buffer.size() >= 2) need = load_u16(reinterpret_cast<const std::uint8_t*>(buffer.data()));
    return format("FNERR_BUFFERTOOSMALL, need %d bytes, allocated: %d",
                  {std::to_string(need), std::to_string(buffer.size())});
}

std::vector<std::string> captured_paths(const CapturedSelection& capture) {
    std::vector<std::string> paths;
    for (const std::string& name : split_quoted_names(capture.names)) paths.push_back(capture.folder + "\\" + name);
    return paths;
}

bool capture_exceeds(const CapturedSelection& capture, std::size_t buffer_size) {
    const auto names = split_quoted_names(capture.names);
    if (names.size() < 2) return false;
    std::size_t need = capture.folder.size() + 2;
    for (const auto& n : names) need += n.size() + 1;
    return need > buffer_size;
}

bool capture_completes(const Selection& answer, const CapturedSelection& capture, std::size_t buffer_size) {
    if (answer.paths.empty() || !capture_exceeds(capture, buffer_size)) return false;
    const auto captured = captured_paths(capture);
    if (answer.paths.size() > captured.size()) return false;
    if (!answer.single && answer.folder != capture.folder) return false;
    const std::size_t last = answer.paths.size() - 1;
    for (std::size_t i = 0; i < last; ++i)
        if (answer.paths[i] != captured[i]) return false;
    return captured[last].starts_with(answer.paths[last]);
}

BatchFiles files_of_answer(const Selection& answer, const CapturedSelection* capture, std::size_t buffer_size) {
    BatchFiles out;
    if (capture && capture_completes(answer, *capture, buffer_size)) {
        out.paths = captured_paths(*capture);
        return out;
    }
    out.paths = answer.paths;
    out.single = answer.single;
    if (!answer.cut) return out;
    // A path cut short is never converted.
    if (answer.last_cut && !out.paths.empty()) out.paths.pop_back();
    if (answer.last_cut) out.single = false;
    const std::size_t chosen = capture ? split_quoted_names(capture->names).size() : 0;
    out.count_known = chosen > out.paths.size();
    out.left_out = out.count_known ? chosen - out.paths.size() : 1;
    return out;
}

BatchFiles files_of_too_long(const CapturedSelection* capture) {
    BatchFiles out;
    if (capture) out.paths = captured_paths(*capture);
    out.single = out.paths.size() == 1;
    if (out.paths.empty()) {
        out.left_out = 1;
        out.count_known = false;
    }
    return out;
}

std::string left_out_text(const BatchFiles& files) {
    const char* why = "the selection is longer than the open-file dialog can hand over. Choose fewer files at a time.";
    if (!files.count_known)
        return format(files.paths.empty() ? "No file chosen was processed: %s" : "The last files chosen were not processed: %s",
                      {why});
    return format("%d of the %d files chosen were not processed: %s",
                  {std::to_string(files.left_out), std::to_string(files.left_out + files.paths.size()), why});
}

}  // namespace vid
