#include "core/table.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "core/files.h"
#include "core/messages.h"
#include "core/table_sheet.h"
#include "core/text.h"

namespace vid {

namespace {

bool ends_with_any_case(std::string_view path, std::string_view end) {
    if (path.size() < end.size()) return false;
    const std::string_view tail = path.substr(path.size() - end.size());
    return std::equal(tail.begin(), tail.end(), end.begin(), [](char a, char b) {
        return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
    });
}

// A text that a spreadsheet would run: it begins with one of these.
bool formula_start(char c) { return c == '=' || c == '+' || c == '-' || c == '@' || c == '\t' || c == '\r'; }

// Apostrophes and then a formula's first character.
bool quoted_formula(std::string_view s) {
    const std::size_t n = s.find_first_not_of('\'');
    return n != std::string_view::npos && formula_start(s[n]);
}

constexpr std::size_t kPiece = std::size_t{1} << 20;

}  // namespace

TableFormat table_format(std::string_view path) {
    if (ends_with_any_case(path, ".tsv")) return TableFormat::tsv;
    if (ends_with_any_case(path, ".xlsx")) return TableFormat::xlsx;
    if (ends_with_any_case(path, ".ods")) return TableFormat::ods;
    return TableFormat::csv;
}

char table_delimiter(std::string_view path) { return table_format(path) == TableFormat::tsv ? '\t' : ','; }

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

std::string csv_field(std::string_view text) {
    std::string field;
    if (quoted_formula(text)) field += '\'';
    field += text;
    return field;
}

std::string_view csv_text(std::string_view field) {
    if (field.starts_with('\'') && quoted_formula(field)) field.remove_prefix(1);
    return field;
}

TableReader::TableReader(std::string_view text, char delimiter)
    : delim_(delimiter), data_(text.data()), end_(text.size()), done_(true) {
    if (text.starts_with(kUtf8Mark)) pos_ = kUtf8Mark.size();
}

TableReader::TableReader(platform::File& file, std::uint64_t size, char delimiter)
    : file_(&file), size_(size), delim_(delimiter), piece_(kPiece) {
    data_ = piece_.data();
    fill();
    if (end_ >= kUtf8Mark.size() && std::memcmp(data_, kUtf8Mark.data(), kUtf8Mark.size()) == 0)
        pos_ = kUtf8Mark.size();
}

bool TableReader::fill() {
    if (done_) return false;
    const std::size_t n = file_->read_full(std::span(reinterpret_cast<std::uint8_t*>(piece_.data()), piece_.size()));
    read_ += n;
    pos_ = 0;
    end_ = n;
    if (n < piece_.size()) {
        done_ = true;
        failed_ = read_ < size_;
    }
    return n > 0;
}

bool TableReader::next(const RowLimits& limits, const std::function<void(std::size_t, std::string&, bool)>& take) {
    open_quote_ = false;
    // Empty lines are no rows, but they count.
    for (;;) {
        const int c = peek();
        if (c < 0) return false;
        if (c != '\r' && c != '\n') break;
        ++row_;
        ++pos_;
        if (c == '\r' && peek() == '\n') ++pos_;
    }
    ++row_;
    std::string field;
    for (std::size_t column = 0;; ++column) {
        field.clear();
        const std::size_t most = limits(column);
        bool cut = false;
        const auto add = [&](const char* p, std::size_t n) {
            if (cut) return;
            if (n > most - field.size()) {
                field.append(p, most - field.size());
                cut = true;
            } else {
                field.append(p, n);
            }
        };
        if (peek() == '"') {
            // Quoted: up to the quote that is not doubled; whatever follows
            // it up to the delimiter belongs to the field as well.
            ++pos_;
            for (;;) {
                if (peek() < 0) {
                    open_quote_ = true;
                    break;
                }
                const char* at = data_ + pos_;
                const auto* q = static_cast<const char*>(std::memchr(at, '"', end_ - pos_));
                if (q == nullptr) {
                    add(at, end_ - pos_);
                    pos_ = end_;
                    continue;
                }
                add(at, static_cast<std::size_t>(q - at));
                pos_ += static_cast<std::size_t>(q - at) + 1;
                if (peek() == '"') {
                    add("\"", 1);
                    ++pos_;
                    continue;
                }
                break;
            }
        }
        while (peek() >= 0) {
            const char* at = data_ + pos_;
            const char* stop = at;
            const char* last = data_ + end_;
            while (stop < last && *stop != delim_ && *stop != '\r' && *stop != '\n') ++stop;
            add(at, static_cast<std::size_t>(stop - at));
            pos_ += static_cast<std::size_t>(stop - at);
            if (stop < last) break;
        }
        take(column, field, cut);
        const int c = peek();
        if (c < 0) return true;
        ++pos_;
        if (c == delim_) continue;
        if (c == '\r' && peek() == '\n') ++pos_;
        return true;
    }
}

bool TableReader::next(std::vector<std::string>& fields) {
    fields.clear();
    const RowLimits whole{{}, std::string::npos};
    return next(whole, [&](std::size_t, std::string& text, bool) { fields.push_back(std::move(text)); });
}

namespace {

// A CSV or TSV table file: the rows of TableReader, each field's text with
// the apostrophe of a formula taken off (see table.h).
class CsvRows : public TableRows {
public:
    CsvRows(platform::File file, std::uint64_t size, char delimiter, std::string path)
        : file_(std::move(file)), size_(size), delim_(delimiter), path_(std::move(path)) {
        reader_.emplace(file_, size_, delim_);
    }

    bool next(const RowLimits& limits, const std::function<void(Cell&)>& take) override {
        if (!error_.empty()) return false;
        // One byte more than the limit, for the apostrophe that may go.
        RowLimits more = limits;
        for (std::size_t& n : more.columns) n += n > 0 && n != std::string::npos;
        more.rest += more.rest > 0 && more.rest != std::string::npos;
        const bool got = reader_->next(more, [&](std::size_t column, std::string& field, bool cut) {
            if (field.empty()) return;
            const std::string_view text = csv_text(field);
            if (text.size() != field.size()) field.erase(0, 1);
            const std::size_t most = limits(column);
            if (field.size() > most) {
                field.resize(most);
                cut = true;
            }
            if (field.empty() && !cut) return;
            Cell cell{column, field, cut, CellKind::text};
            take(cell);
        });
        row_ = reader_->row();
        open_quote_ = reader_->open_quote();
        if (reader_->failed()) {
            error_ = format("can't read %s", {path_});
            return false;
        }
        return got;
    }

    bool rewind() override {
        if (!error_.empty()) return false;
        if (!file_.seek(0)) {
            error_ = format("can't read %s", {path_});
            return false;
        }
        reader_.emplace(file_, size_, delim_);
        row_ = 0;
        return true;
    }

private:
    platform::File file_;
    std::uint64_t size_;
    char delim_;
    std::string path_;
    std::optional<TableReader> reader_;
};

// What the first bytes of a CSV or TSV file say it is not.
std::string not_csv(std::string_view head, const std::string& path) {
    if (head.starts_with("\xFF\xFE") || head.starts_with("\xFE\xFF"))
        return format("%s is UTF-16 text (as Excel's \"Unicode Text\" saves it), which import does not read: save "
                      "it as \"CSV UTF-8\", or use an XLSX or ODS table",
                      {path});
    // UTF-16 without its mark: ASCII with a zero byte after (or before)
    // every character.
    if (head.size() >= 8) {
        std::size_t even = 0, odd = 0;
        for (std::size_t i = 0; i + 1 < head.size(); i += 2) {
            even += head[i] == '\0';
            odd += head[i + 1] == '\0';
        }
        const std::size_t pairs = head.size() / 2;
        if (even * 4 >= pairs * 3 || odd * 4 >= pairs * 3)
            return format("%s is UTF-16 text, which import does not read: save it as \"CSV UTF-8\", or use an XLSX "
                          "or ODS table",
                          {path});
    }
    if (head.starts_with("PK\x03\x04"))
        return format("%s is a zip file (an XLSX or ODS table?), not CSV text: give it the name it should have "
                      "(.xlsx or .ods)",
                      {path});
    return {};
}

}  // namespace

std::optional<platform::File> open_table_file(Ui& ui, const std::string& path, std::uint64_t& size) {
    auto in = open_input(ui, path);
    if (!in) return std::nullopt;
    const auto got = in->size();
    if (!got) {
        ui.alert(format("can't read %s", {path}));
        return std::nullopt;
    }
    if (*got > kMaxTableFile) {
        ui.alert(format("%s is too large: %s bytes", {path, std::to_string(*got)}));
        return std::nullopt;
    }
    size = *got;
    return in;
}

std::unique_ptr<TableRows> open_table(Ui& ui, const std::string& path, std::string_view sheet) {
    const TableFormat format_of = table_format(path);
    if (format_of == TableFormat::xlsx || format_of == TableFormat::ods) return open_sheet(ui, path, format_of, sheet);
    std::uint64_t size = 0;
    auto in = open_table_file(ui, path, size);
    if (!in) return nullptr;
    char head[64];
    const std::size_t got = in->read_full(std::span(reinterpret_cast<std::uint8_t*>(head), sizeof head));
    if (const std::string why = not_csv({head, got}, path); !why.empty()) {
        ui.alert(why);
        return nullptr;
    }
    if (!in->seek(0)) {
        ui.alert(format("can't read %s", {path}));
        return nullptr;
    }
    return std::make_unique<CsvRows>(std::move(*in), size, table_delimiter(path), path);
}

namespace {

// CSV and TSV, written in pieces: the output is started at once and takes
// its name only when complete.
class CsvWriter : public TableWriter {
public:
    CsvWriter(Ui& ui, platform::Output out, char delimiter) : ui_(ui), out_(std::move(out)), delim_(delimiter) {}

    std::string cannot_hold(std::string_view) const override { return {}; }

    bool add(std::span<const std::string_view> fields) override {
        safe_.clear();
        views_.clear();
        for (std::string_view f : fields) safe_.push_back(csv_field(f));
        for (const std::string& f : safe_) views_.push_back(f);
        append_row(pending_, views_, delim_);
        return pending_.size() < kPiece || put_out();
    }

    bool finish() override { return put_out() && commit_keeping_original(ui_, out_, false); }

private:
    bool put_out() {
        if (!out_.file().write(std::span(reinterpret_cast<const std::uint8_t*>(pending_.data()), pending_.size()))) {
            ui_.alert(cant_write(out_.final_path()));
            return false;
        }
        pending_.clear();
        return true;
    }

    Ui& ui_;
    platform::Output out_;
    char delim_;
    std::string pending_{kUtf8Mark};
    std::vector<std::string> safe_;
    std::vector<std::string_view> views_;
};

}  // namespace

std::unique_ptr<TableWriter> create_table(Ui& ui, const std::string& path, std::span<const TableColumn> columns,
                                          std::string_view sheet) {
    const TableFormat format_of = table_format(path);
    if (format_of == TableFormat::xlsx) return create_xlsx(ui, path, columns, sheet);
    if (format_of == TableFormat::ods) return create_ods(ui, path, columns, sheet);
    auto out = create_output(ui, path, platform::Existing::replace_target);
    if (!out) return nullptr;
    auto writer = std::make_unique<CsvWriter>(ui, std::move(*out), table_delimiter(path));
    std::vector<std::string_view> header;
    for (const TableColumn& c : columns) header.push_back(c.name);
    if (!writer->add(header)) return nullptr;
    return writer;
}

}  // namespace vid
