// The main window: command dispatch, the status line, the About box.
#include <windows.h>
#include <shellapi.h>

#include "app/browser.h"
#include "app/commands.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "core/boundary.h"
#include "resources/resource.h"

namespace vid::app {

void set_status(HWND window, const std::string& text, bool now, bool wraps) {
    shell().status = text;
    shell().status_wraps = wraps;
    InvalidateRect(window, nullptr, TRUE);
    if (now) UpdateWindow(window);
}

int message_box(HWND owner, const std::string& text, const char* title, UINT flags) {
    shell().message = text;
    return MessageBoxW(owner, shown_text(shell().message).c_str(), shown_text(title).c_str(), flags);
}

namespace {

// The commands that wait while Unpack Game, Repack Game or a patch is at work.
constexpr UINT kWaitingCommands[] = {
    ID_DECODE_EXTRACTFL3, ID_DECODE_DECODEBM2, ID_DECODE_DECODEWV5,   ID_DECODE_DECODEAB,
    ID_DECODE_DECODEBM2PNG, ID_DECODE_EXPORTTEXTS, ID_DECODE_UNPACKGAME, ID_DECODE_BROWSE,
    ID_ENCODE_ENCODEFL3,  ID_ENCODE_ENCODEAB,  ID_ENCODE_ENCODEBM2,   ID_ENCODE_ENCODEWV5,
    ID_ENCODE_IMPORTTEXTS, ID_ENCODE_REPACKGAME, ID_ENCODE_APPLYPATCH, ID_ENCODE_UNDOPATCH,
};

}  // namespace

void allow_commands(HWND window, bool allow) {
    HMENU menu = GetMenu(window);
    if (!menu) return;
    for (const UINT id : kWaitingCommands) EnableMenuItem(menu, id, MF_BYCOMMAND | (allow ? MF_ENABLED : MF_GRAYED));
}

namespace {

void paint_status(HWND window) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    RECT rect;
    GetClientRect(window, &rect);
    const std::wstring text = shown_text(shell().status);
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
              shell().status_wraps ? DT_WORDBREAK | DT_EDITCONTROL : 0);
    EndPaint(window, &ps);
}

// Runs the command `id`; false when the id is not one of the menu's.
bool run_command(HWND window, int id) {
    // While Unpack Game or Repack Game is at work, the other commands wait
    // for it (their menu items are greyed; one that comes all the same is
    // told as refused); Exit stops it and closes the window when it has
    // stopped.
    if (project_running() && id != IDM_ABOUT) {
        if (id == IDM_EXIT) {
            stop_project(true);
            return true;
        }
        for (const UINT waiting : kWaitingCommands)
            if (static_cast<UINT>(id) == waiting) {
                refuse_command(window);
                return true;
            }
        return false;
    }
    switch (id) {
        case IDM_ABOUT:
            DialogBoxParamA(shell().instance, MAKEINTRESOURCEA(IDD_ABOUTBOX), window, about_proc, 0);
            return true;
        case IDM_EXIT: DestroyWindow(window); return true;
        case ID_DECODE_EXTRACTFL3: extract_fl3(window); return true;
        case ID_ENCODE_ENCODEFL3: encode_fl3(window); return true;
        case ID_DECODE_DECODEBM2: decode_bm2(window); return true;
        case ID_DECODE_DECODEBM2PNG: decode_bm2_png(window); return true;
        case ID_DECODE_DECODEWV5: decode_wv5(window); return true;
        case ID_DECODE_DECODEAB: decode_ab(window); return true;
        case ID_ENCODE_ENCODEAB: encode_ab(window); return true;
        case ID_ENCODE_ENCODEBM2: encode_bm2(window); return true;
        case ID_ENCODE_ENCODEWV5: encode_wv5(window); return true;
        case ID_DECODE_EXPORTTEXTS: export_texts(window); return true;
        case ID_ENCODE_IMPORTTEXTS: import_texts(window); return true;
        case ID_DECODE_UNPACKGAME: unpack_game(window); return true;
        case ID_DECODE_BROWSE: browse(window); return true;
        case ID_ENCODE_REPACKGAME: repack_game(window); return true;
        case ID_ENCODE_APPLYPATCH: apply_patch(window, false); return true;
        case ID_ENCODE_UNDOPATCH: apply_patch(window, true); return true;
        default: return false;
    }
}

}  // namespace

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (project_message(window, message, lparam)) return 0;
    switch (message) {
        case WM_KEYDOWN:
            if (wparam == VK_ESCAPE && project_running()) {
                stop_project(false);
                return 0;
            }
            return DefWindowProcA(window, message, wparam, lparam);
        case WM_CLOSE:
            if (project_running()) {
                stop_project(true);
                return 0;
            }
            return DefWindowProcA(window, message, wparam, lparam);
        case WM_COMMAND: {
            WindowUi ui(window);
            if (guarded(ui, [&] { return run_command(window, LOWORD(wparam)); }, true)) return 0;
            return DefWindowProcA(window, message, wparam, lparam);
        }
        case WM_PAINT: paint_status(window); return 0;
        case WM_DROPFILES: {
            auto drop = reinterpret_cast<HDROP>(wparam);
            char path[MAX_PATH] = {};
            const bool got = DragQueryFileA(drop, 0, path, MAX_PATH) > 0;
            DragFinish(drop);
            if (got) open_in_browser(window, path);
            return 0;
        }
        case WM_DESTROY: PostQuitMessage(0); return 0;
        default: return DefWindowProcA(window, message, wparam, lparam);
    }
}

INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG: return TRUE;
        case WM_COMMAND: return end_on_ok_or_cancel(dialog, wparam);
        default: return FALSE;
    }
}

bool end_on_ok_or_cancel(HWND dialog, WPARAM wparam) {
    if (LOWORD(wparam) != IDOK && LOWORD(wparam) != IDCANCEL) return false;
    EndDialog(dialog, LOWORD(wparam));
    return true;
}

}  // namespace vid::app
