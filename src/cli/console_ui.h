// The Ui port on a terminal: status texts on standard output, one per line;
// Alerts on standard error as "Alert: TEXT"; listing-view nodes, when asked
// for, on standard output indented by level. Control characters other than
// the line break are shown escaped ("\x1B"), never sent to the terminal.
#pragma once

#include <cstdio>
#include <string>

#include "core/ui.h"

namespace vid::cli {

// Writes `text` to `f` with every control character but the line break
// shown escaped ("\x1B").
void write_escaped(std::FILE* f, std::string_view text);

class ConsoleUi : public Ui {
public:
    ConsoleUi(std::FILE* out, std::FILE* err) : out_(out), err_(err) {}

    void status(std::string_view text, Draw draw) override;
    void alert(std::string_view text) override;
    void add_node(std::string_view text, int level) override;
    bool has_listing_view() const override { return tree_; }
    bool is_console() const override { return true; }

    // Prints the listing view's nodes (decode-ab --tree).
    void show_tree(bool on) { tree_ = on; }
    int alerts() const { return alerts_; }

private:
    std::FILE* out_;
    std::FILE* err_;
    bool tree_ = false;
    int alerts_ = 0;
};

}  // namespace vid::cli
