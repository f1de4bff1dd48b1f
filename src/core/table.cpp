#include "core/table.h"

#include <algorithm>
#include <cctype>

namespace vid {

char table_delimiter(std::string_view path) {
    constexpr std::string_view tsv = ".tsv";
    if (path.size() < tsv.size()) return ',';
    const std::string_view end = path.substr(path.size() - tsv.size());
    const bool is_tsv = std::equal(end.begin(), end.end(), tsv.begin(), [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == b;
    });
    return is_tsv ? '\t' : ',';
}

void append_row(std::string& out, std::span<const std::string_view> fields, char delimiter) {
    bool first = true;
    for (std::string_view f : fields) {
        if (!first) out += delimiter;
        first = false;
        const bool plain = std::none_of(f.begin(), f.end(), [delimiter](char c) {
            return c == delimiter || c == '"' || c == '\r' || c == '\n';
        });
        if (plain) {
            out += f;
            continue;
        }
        out += '"';
        for (char c : f) {
            if (c == '"') out += '"';
            out += c;
        }
        out += '"';
    }
    out += "\r\n";
}

TableReader::TableReader(std::string_view text, char delimiter) : text_(text), delim_(delimiter) {
    if (text_.starts_with(kUtf8Mark)) pos_ = kUtf8Mark.size();
}

bool TableReader::next(std::vector<std::string>& fields) {
    fields.clear();
    open_quote_ = false;
    const std::size_t size = text_.size();
    // Empty lines are no rows, but they count.
    for (;;) {
        if (pos_ >= size) return false;
        const char c = text_[pos_];
        if (c != '\r' && c != '\n') break;
        ++row_;
        pos_ += c == '\r' && pos_ + 1 < size && text_[pos_ + 1] == '\n' ? 2 : 1;
    }
    ++row_;
    std::string field;
    for (;;) {
        field.clear();
        if (pos_ < size && text_[pos_] == '"') {
            // Quoted: up to the quote that is not doubled; whatever follows
            // it up to the delimiter belongs to the field as well.
            ++pos_;
            for (;;) {
                const std::size_t q = text_.find('"', pos_);
                if (q == std::string_view::npos) {
                    field.append(text_.substr(pos_));
                    pos_ = size;
                    open_quote_ = true;
                    break;
                }
                field.append(text_.substr(pos_, q - pos_));
                pos_ = q + 1;
                if (pos_ < size && text_[pos_] == '"') {
                    field += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
        }
        std::size_t end = pos_;
        while (end < size && text_[end] != delim_ && text_[end] != '\r' && text_[end] != '\n') ++end;
        field.append(text_.substr(pos_, end - pos_));
        pos_ = end;
        fields.push_back(std::move(field));
        field = {};
        if (pos_ >= size) return true;
        const char c = text_[pos_];
        if (c == delim_) {
            ++pos_;
            continue;
        }
        pos_ += c == '\r' && pos_ + 1 < size && text_[pos_ + 1] == '\n' ? 2 : 1;
        return true;
    }
}

}  // namespace vid
