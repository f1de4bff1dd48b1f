// The translation-table reader over any text. The first byte chooses the
// table's name (".csv" or ".tsv", in any case) and so its delimiter; the
// rest is the table. Every row is read: each takes at least one byte, its
// number grows, it has a field; the end stays the end. A table without
// quotes splits exactly at its delimiters and line breaks. The rows read,
// written again with append_row and read back, give the same fields, one
// row per line.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "core/table.h"

namespace {

using Row = std::vector<std::string>;

[[noreturn]] void fail() { __builtin_trap(); }

// Reads every row of `text`, checking what holds of any table.
std::vector<Row> read_all(std::string_view text, char delimiter) {
    vid::TableReader reader(text, delimiter);
    const std::size_t body = text.size() - (text.starts_with(vid::kUtf8Mark) ? vid::kUtf8Mark.size() : 0);
    std::vector<Row> rows;
    Row fields;
    std::uint64_t last = 0;
    std::size_t bytes = 0;
    while (reader.next(fields)) {
        // Every row, and every empty line before it, takes a byte at least.
        if (reader.row() <= last || reader.row() > body || fields.empty()) fail();
        last = reader.row();
        for (const std::string& f : fields) bytes += f.size();
        if (bytes > body) fail();
        rows.push_back(fields);
        // A quote left open takes the rest of the text.
        if (reader.open_quote()) {
            if (reader.next(fields)) fail();
            break;
        }
    }
    const std::uint64_t end = reader.row();
    if (end < last || end > body) fail();
    if (reader.next(fields) || !fields.empty() || reader.row() != end || reader.open_quote()) fail();
    return rows;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    // Bit 0: CSV or TSV; bits 1-4: the case of each letter of the extension.
    const std::uint8_t how = data[0];
    std::string name = (how & 1) ? "texts.tsv" : "texts.csv";
    for (std::size_t i = 0; i < 3; ++i)
        if (how & (2u << i)) name[name.size() - 3 + i] = static_cast<char>(name[name.size() - 3 + i] - 'a' + 'A');
    if (how & 16) name.insert(0, "folder.tsv/");  // only the name's end counts
    const char delimiter = vid::table_delimiter(name);
    if (delimiter != ((how & 1) ? '\t' : ',')) fail();

    const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::vector<Row> rows = read_all(text, delimiter);

    // Without quotes, every byte but the line breaks is a field's or one
    // of the delimiters between a row's fields.
    if (text.find('"') == std::string_view::npos) {
        const std::string_view body = text.starts_with(vid::kUtf8Mark) ? text.substr(vid::kUtf8Mark.size()) : text;
        std::size_t kept = 0;
        for (char c : body) kept += c != '\r' && c != '\n';
        std::size_t split = 0;
        for (const Row& r : rows) {
            split += r.size() - 1;
            for (const std::string& f : r) {
                if (f.find_first_of(std::string{delimiter, '\r', '\n'}) != std::string::npos) fail();
                split += f.size();
            }
        }
        if (split != kept) fail();
    }

    // Written as export writes (the byte-order mark, then the rows) and
    // read back. A row of one empty field is written as an empty line,
    // which the reader skips: it is no row of the table read back.
    std::string written(vid::kUtf8Mark);
    std::vector<Row> kept;
    std::vector<std::string_view> views;
    for (const Row& r : rows) {
        if (r.size() == 1 && r[0].empty()) continue;
        views.assign(r.begin(), r.end());
        vid::append_row(written, views, delimiter);
        kept.push_back(r);
    }
    vid::TableReader again(written, delimiter);
    Row fields;
    for (std::size_t i = 0; i < kept.size(); ++i) {
        if (!again.next(fields) || fields != kept[i] || again.row() != i + 1 || again.open_quote()) fail();
    }
    if (again.next(fields) || again.row() != kept.size()) fail();
    if (read_all(written, delimiter) != kept) fail();
    return 0;
}
