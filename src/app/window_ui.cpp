#include "app/window_ui.h"

#include <string>

#include "app/shell.h"

namespace vid::app {

void WindowUi::status(std::string_view text, Draw draw) { set_status(main_, std::string(text), draw != Draw::later); }

void WindowUi::alert(std::string_view text) {
    message_box(owner_, std::string(text), "Alert", MB_OK | MB_ICONHAND);
    // The status line may have changed under the box: draw it now.
    UpdateWindow(main_);
}

// A node's text holds the script's texts in the game's code page: it is
// drawn as the game shows it, whatever the system's code page.
HTREEITEM WindowUi::insert(HTREEITEM parent, const char* text) {
    std::wstring shown = game_text(text);
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = shown.data();
    return reinterpret_cast<HTREEITEM>(SendMessageW(tree_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
}

void WindowUi::add_node(std::string_view text, int level) {
    if (!tree_) return;
    HTREEITEM parent = level == 1 ? TVI_ROOT : last_instruction_;
    if (filling_ && parent != TVI_ROOT && parent != nullptr) {
        pending_.emplace_back(parent, pending_text_.size());
        pending_text_.append(text);
        pending_text_.push_back('\0');
        return;
    }
    const std::string label(text);
    HTREEITEM node = insert(parent, label.c_str());
    if (level == 1) last_instruction_ = node;
}

// Some tree views check the parent of each new node by searching all their
// nodes in the order they were made. Operands added as they come would be
// made after tens of thousands of nodes each; added after every node of the
// root, each is found among the instructions, so filling a view of tens of
// thousands of nodes takes a fraction of a second instead of seconds.
void WindowUi::begin_fill() {
    if (!tree_) return;
    SendMessageA(tree_, WM_SETREDRAW, FALSE, 0);
    filling_ = true;
}

void WindowUi::end_fill() {
    if (!tree_ || !filling_) return;
    filling_ = false;
    for (const auto& [parent, offset] : pending_) insert(parent, pending_text_.data() + offset);
    pending_.clear();
    pending_.shrink_to_fit();
    pending_text_.clear();
    pending_text_.shrink_to_fit();
    SendMessageA(tree_, WM_SETREDRAW, TRUE, 0);
    RedrawWindow(tree_, nullptr, nullptr, RDW_ERASE | RDW_FRAME | RDW_INVALIDATE);
}

void WindowUi::enter_dialog(HWND dialog, HWND tree) {
    owner_ = dialog;
    tree_ = tree;
    last_instruction_ = nullptr;
}

void WindowUi::leave_dialog() {
    owner_ = main_;
    tree_ = nullptr;
    last_instruction_ = nullptr;
}

}  // namespace vid::app
