// export-text and import-text: translation tables of every script under a
// folder; find-text: the texts that hold a given text.
#include <charconv>
#include <optional>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "core/text.h"
#include "platform/codepage.h"
#include "text/find_text.h"
#include "text/text_jobs.h"

namespace vid::cli {

namespace {

struct TextArgs {
    std::string folder;
    std::string table;
    unsigned codepage = script::kGameCodepage;
    std::uint32_t max_line = 0;
};

// FOLDER and a second operand (TABLE, TEXT) with --codepage N (or
// --codepage=N) anywhere before "--". nullopt after a usage error was
// printed.
std::optional<TextArgs> text_args(Args args, const char* command, const char* operands = "a FOLDER and a TABLE",
                                  bool max_line = false) {
    TextArgs out;
    std::vector<std::string> names;
    bool options = true;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::optional<std::string> value;
        if (options && a == "--") {
            options = false;
            continue;
        }
        if (options && max_line && (a == "--max-line" || a.starts_with("--max-line="))) {
            const std::string v = a == "--max-line" ? (i + 1 < args.size() ? args[++i] : std::string()) : a.substr(11);
            std::uint32_t n = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
            if (v.empty() || ec != std::errc() || end != v.data() + v.size() || n == 0) {
                usage_error(std::string(command) + ": --max-line needs a number of columns" +
                            (v.empty() ? std::string() : ", not '" + v + "'"));
                return std::nullopt;
            }
            out.max_line = n;
            continue;
        }
        if (options && a == "--codepage") {
            if (i + 1 == args.size()) {
                usage_error(std::string(command) + ": --codepage needs a number");
                return std::nullopt;
            }
            value = args[++i];
        } else if (options && a.starts_with("--codepage=")) {
            value = a.substr(11);
        } else if (options && a.size() > 1 && a[0] == '-') {
            usage_error(std::string(command) + ": unknown option '" + a + "'");
            return std::nullopt;
        } else {
            names.push_back(a);
            continue;
        }
        unsigned number = 0;
        const auto [end, ec] = std::from_chars(value->data(), value->data() + value->size(), number);
        if (ec != std::errc() || end != value->data() + value->size() || number == 0) {
            usage_error(std::string(command) + ": --codepage needs a number, not '" + *value + "'");
            return std::nullopt;
        }
        if (!platform::Codepage(number).supported()) {
            usage_error(std::string(command) + ": code page " + std::to_string(number) + " is not supported here");
            return std::nullopt;
        }
        out.codepage = number;
    }
    if (names.size() != 2) {
        usage_error(std::string(command) + ": give " + operands);
        return std::nullopt;
    }
    out.folder = names[0];
    out.table = names[1];
    return out;
}

}  // namespace

int export_text(ConsoleUi& ui, Args args) {
    const auto a = text_args(args, "export-text");
    if (!a) return 2;
    return text::export_texts(ui, a->folder, a->table, a->codepage) ? 0 : 1;
}

int import_text(ConsoleUi& ui, Args args) {
    const auto a = text_args(args, "import-text", "a FOLDER and a TABLE", true);
    if (!a) return 2;
    return text::import_texts(ui, a->folder, a->table, a->codepage, a->max_line) ? 0 : 1;
}

int find_text(ConsoleUi& ui, Args args) {
    const auto a = text_args(args, "find-text", "a GAME_OR_FOLDER and a TEXT");
    if (!a) return 2;
    if (a->table.empty()) return usage_error("find-text: the TEXT to find is empty");
    // Hits as "WHERE:N: TEXT", the text in UTF-8.
    platform::Codepage cp(a->codepage);
    std::string shown;
    const text::FindCounts n = text::find_text(ui, a->folder, a->table, a->codepage, [&](const text::TextHit& h) {
        if (!cp.to_utf8(h.text, shown)) shown = h.text;
        ui.status(format("%s:%s: %s", {h.where, std::to_string(h.n), shown}), Draw::result);
        return true;
    });
    ui.status(text::found_text(n, a->table), Draw::later);
    return n.complete ? 0 : 1;
}

}  // namespace vid::cli
