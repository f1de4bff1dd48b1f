#include "project/json_writer.h"

#include <nlohmann/json.hpp>

namespace vid::project {

namespace {

constexpr std::size_t kFlushAt = std::size_t{1} << 20;

// Characters that nlohmann's dump() writes as they are: printable ASCII but
// the quote and the backslash.
bool plain(std::string_view s) {
    for (char c : s)
        if (c < 0x20 || c > 0x7E || c == '"' || c == '\\') return false;
    return true;
}

}  // namespace

void JsonWriter::raw(std::string_view s) {
    buf_ += s;
    if (buf_.size() >= kFlushAt) flush();
}

bool JsonWriter::flush() {
    if (!buf_.empty() && ok_) ok_ = out_(buf_);
    buf_.clear();
    return ok_;
}

void JsonWriter::value_start(std::string_view key) {
    if (!open_.empty()) {
        raw(open_.back()++ == 0 ? "\n" : ",\n");
        buf_.append(open_.size(), ' ');
    }
    if (!key.empty()) {
        raw("\"");
        raw(key);
        raw("\": ");
    }
}

void JsonWriter::begin_object(std::string_view key) {
    value_start(key);
    raw("{");
    open_.push_back(0);
}

void JsonWriter::begin_array(std::string_view key) {
    value_start(key);
    raw("[");
    open_.push_back(0);
}

void JsonWriter::close(char bracket) {
    const std::size_t values = open_.back();
    open_.pop_back();
    // An empty one is "{}" or "[]"; else its closing bracket on a line of its own.
    if (values > 0) {
        raw("\n");
        buf_.append(open_.size(), ' ');
    }
    raw(std::string_view(&bracket, 1));
}

void JsonWriter::end_object() { close('}'); }
void JsonWriter::end_array() { close(']'); }

void JsonWriter::text(std::string_view key, std::string_view value) {
    if (plain(value)) {
        value_start(key);
        raw("\"");
        raw(value);
        raw("\"");
        return;
    }
    std::string quoted;
    try {
        quoted = nlohmann::json(std::string(value)).dump();
    } catch (const nlohmann::json::type_error&) {
        static const char digits[] = "0123456789abcdef";
        quoted.assign(1, '"');
        for (unsigned char c : value) {
            quoted += digits[c >> 4];
            quoted += digits[c & 15];
        }
        quoted += '"';
        value_start(std::string(key) + "_hex");
        raw(quoted);
        return;
    }
    value_start(key);
    raw(quoted);
}

void JsonWriter::number(std::string_view key, std::uint64_t value) {
    value_start(key);
    raw(std::to_string(value));
}

bool JsonWriter::finish() {
    raw("\n");
    return flush();
}

std::optional<std::string> bytes_of_hex(std::string_view hex) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return std::nullopt;
    std::string text;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int high = digit(hex[i]), low = digit(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        text += static_cast<char>(high * 16 + low);
    }
    return text;
}

}  // namespace vid::project
