#include "app/window_ui.h"

#include <string>

#include "app/shell.h"

namespace vid::app {

void WindowUi::status(std::string_view text, Draw draw) { set_status(main_, std::string(text), draw == Draw::now); }

void WindowUi::alert(std::string_view text) {
    message_box(owner_, std::string(text), "Alert", MB_OK | MB_ICONHAND);
    // The status line may have changed under the box: draw it now.
    UpdateWindow(main_);
}

void WindowUi::add_node(std::string_view text, int level) {
    if (!tree_) return;
    std::string label(text);
    TVINSERTSTRUCTA ins = {};
    ins.hParent = level == 1 ? TVI_ROOT : last_instruction_;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT;
    ins.item.pszText = label.data();
    auto node = reinterpret_cast<HTREEITEM>(SendMessageA(tree_, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
    if (level == 1) last_instruction_ = node;
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
