#include "core/table_sheet.h"

#include <algorithm>
#include <vector>

#include "core/table_sheet_read.h"
#include "core/text.h"

namespace vid {


bool SheetRows::read_part(std::string_view part, XmlHandler& handler) {
    if (!zip_.start(part)) {
        error_ = zip_.error();
        return false;
    }
    XmlPart parser(zip_, handler);
    for (;;) {
        switch (parser.run()) {
            case XmlPart::Result::paused: continue;
            case XmlPart::Result::done: return true;
            case XmlPart::Result::failed: error_ = parser.error(); return false;
        }
    }
}

bool SheetRows::rewind() {
    if (!error_.empty()) return false;
    rows_.reset();
    row_ = 0;
    XmlHandler& handler = restart();
    if (!zip_.start(rows_part_)) {
        error_ = zip_.error();
        return false;
    }
    rows_ = std::make_unique<XmlPart>(zip_, handler);
    return true;
}

bool SheetRows::next(const RowLimits& limits, const std::function<void(Cell&)>& take) {
    if (!error_.empty() || !rows_) return false;
    limits_ = &limits;
    take_ = &take;
    XmlPart::Result result = XmlPart::Result::failed;
    try {
        result = rows_->run();
    } catch (...) {
        limits_ = nullptr;
        take_ = nullptr;
        throw;
    }
    limits_ = nullptr;
    take_ = nullptr;
    row_ = last_row();
    if (result == XmlPart::Result::failed) error_ = rows_->error();
    if (result != XmlPart::Result::paused) rows_.reset();
    return result == XmlPart::Result::paused;
}

void SheetRows::give(std::size_t column, std::string& text, bool cut, CellKind kind) {
    const std::size_t most = limit(column);
    if (most == 0 || take_ == nullptr || (text.empty() && !cut)) return;
    if (text.size() > most) {
        text.resize(most);
        cut = true;
    }
    Cell cell{column, text, cut, kind};
    (*take_)(cell);
}

bool same_name(std::string_view name, std::string_view wanted) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    return name.size() == wanted.size() &&
           std::equal(name.begin(), name.end(), wanted.begin(), [&](char a, char b) { return lower(a) == lower(b); });
}

std::string package_path(std::string_view folder, std::string_view target) {
    std::string joined = target.starts_with('/') ? std::string(target.substr(1)) : std::string(folder) + std::string(target);
    for (char& c : joined)
        if (c == '\\') c = '/';
    std::vector<std::string_view> parts;
    std::string_view rest = joined;
    while (!rest.empty()) {
        const std::size_t slash = rest.find('/');
        const std::string_view part = rest.substr(0, slash);
        rest = slash == std::string_view::npos ? std::string_view() : rest.substr(slash + 1);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
            continue;
        }
        parts.push_back(part);
    }
    std::string out;
    for (std::string_view p : parts) {
        if (!out.empty()) out += '/';
        out += p;
    }
    return out;
}

std::unique_ptr<TableRows> open_sheet(Ui& ui, const std::string& path, TableFormat format_of, std::string_view sheet,
                                      const SheetLimits& limits) {
    std::uint64_t size = 0;
    auto in = open_table_file(ui, path, size);
    if (!in) return nullptr;
    return format_of == TableFormat::ods ? open_ods(ui, std::move(*in), size, path, sheet, limits)
                                         : open_xlsx(ui, std::move(*in), size, path, sheet, limits);
}

}  // namespace vid
