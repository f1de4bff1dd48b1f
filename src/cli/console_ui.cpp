#include "cli/console_ui.h"

namespace vid::cli {

void ConsoleUi::status(std::string_view text, Draw) {
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
    std::fflush(out_);
}

void ConsoleUi::alert(std::string_view text) {
    ++alerts_;
    std::fputs("Alert: ", err_);
    std::fwrite(text.data(), 1, text.size(), err_);
    std::fputc('\n', err_);
    std::fflush(err_);
}

void ConsoleUi::add_node(std::string_view text, int level) {
    if (!tree_) return;
    for (int i = 1; i < level; ++i) std::fputs("  ", out_);
    std::fwrite(text.data(), 1, text.size(), out_);
    std::fputc('\n', out_);
}

}  // namespace vid::cli
