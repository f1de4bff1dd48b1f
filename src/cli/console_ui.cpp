#include "cli/console_ui.h"

namespace vid::cli {

// Writes `text` with every control character but the line break escaped
// ("\x1B"): names from a file can never move the cursor or clear the
// screen. (A line break inside a name is already escaped where the name is
// put into the text.)
void write_escaped(std::FILE* f, std::string_view text) {
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if ((c >= 0x20 && c != 0x7F) || c == '\n') continue;
        std::fwrite(text.data() + start, 1, i - start, f);
        std::fprintf(f, "\\x%02X", c);
        start = i + 1;
    }
    std::fwrite(text.data() + start, 1, text.size() - start, f);
}

void ConsoleUi::status(std::string_view text, Draw) {
    write_escaped(out_, text);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleUi::alert(std::string_view text) {
    ++alerts_;
    std::fputs("Alert: ", err_);
    write_escaped(err_, text);
    std::fputc('\n', err_);
    std::fflush(err_);
}

void ConsoleUi::add_node(std::string_view text, int level) {
    if (!tree_) return;
    for (int i = 1; i < level; ++i) std::fputs("  ", out_);
    write_escaped(out_, text);
    std::fputc('\n', out_);
}

}  // namespace vid::cli
