// The Ui port on the real window: the main window's status line, "Alert"
// boxes owned by the current owner (the main window, or the Scripting dialog
// while it is open) and the dialog's tree view as the listing view.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/ui.h"

namespace vid::app {

class WindowUi : public Ui {
public:
    explicit WindowUi(HWND main) : main_(main), owner_(main) {}

    void status(std::string_view text, Draw draw) override;
    void alert(std::string_view text) override;
    void add_node(std::string_view text, int level) override;
    bool has_listing_view() const override { return tree_ != nullptr; }

    // While a Scripting dialog is open: its boxes are owned by the dialog,
    // and its tree view (may be null) is the listing view.
    void enter_dialog(HWND dialog, HWND tree);
    void leave_dialog();

    // While a job fills the listing view: the view draws nothing, and the
    // operand nodes wait until end_fill(), which adds them under their
    // instructions in their order, then lets the view draw itself once.
    // The view ends with the same nodes in the same places as when each is
    // added at once.
    void begin_fill();
    void end_fill();

    HWND main() const { return main_; }
    HWND owner() const { return owner_; }

private:
    HWND main_;
    HWND owner_;
    HWND tree_ = nullptr;
    HTREEITEM last_instruction_ = nullptr;
    HTREEITEM insert(HTREEITEM parent, const char* text);

    bool filling_ = false;
    // The waiting operand nodes: their instruction node and the offset of
    // their zero-terminated text in pending_text_.
    std::vector<std::pair<HTREEITEM, std::size_t>> pending_;
    std::string pending_text_;
};

}  // namespace vid::app
