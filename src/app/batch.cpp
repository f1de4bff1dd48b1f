// The batch commands (Decode BM2, WV5 and AB; Encode AB and BM2): several
// files chosen in one open-file dialog, one per-file converter call each, in
// the dialog's order, then one final text.
#include <windows.h>
#include <commdlg.h>

#include <functional>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/scripting.h"
#include "app/shell.h"
#include "app/window_ui.h"
#include "bm2/bm2.h"
#include "bm2/encode.h"
#include "core/batch.h"
#include "core/messages.h"
#include "core/selection.h"
#include "formats/kinds.h"
#include "platform/file.h"
#include "platform/paths.h"
#include "script/jobs.h"

namespace vid::app {

namespace {

using Converter = std::function<bool(WindowUi& ui, const std::string& path, bool single)>;

struct BatchCommand {
    const char* title;
    const char* filter_text;
    const char* pattern;
    const char* default_ext;
    const char* ok_text;
    const char* verb;
    Converter convert;
    bool small_buffer;  // Decode WV5: a 260-byte selection buffer
};

constexpr DWORD kSelectionBufferSize = 10240;
constexpr DWORD kSmallBufferSize = 260;

// What the selection hook captured while the dialog was open. Every batch
// command keeps this copy: a selection too long for the buffer is still
// converted whole, whether the dialog fails or cuts its answer.
struct Capture : CapturedSelection {
    bool active = false;
};
Capture g_capture;

std::string dialog_string(HWND dialog, UINT message) {
    char probe[4] = {};
    LRESULT size = SendMessageA(dialog, message, 1, reinterpret_cast<LPARAM>(probe));
    if (size <= 0) return {};
    std::vector<char> buf(static_cast<std::size_t>(size) + 1, '\0');
    SendMessageA(dialog, message, static_cast<WPARAM>(size), reinterpret_cast<LPARAM>(buf.data()));
    return std::string(buf.data());
}

UINT_PTR CALLBACK selection_hook(HWND hook_window, UINT message, WPARAM, LPARAM lparam) {
    // A change of selection in the list, and the names as the user confirmed
    // them (typed ones included).
    const UINT code = message == WM_NOTIFY ? reinterpret_cast<const NMHDR*>(lparam)->code : 0;
    if (code == CDN_SELCHANGE || code == CDN_FILEOK) {
        HWND dialog = GetParent(hook_window);
        g_capture.names = dialog_string(dialog, CDM_GETSPEC);
        g_capture.folder = dialog_string(dialog, CDM_GETFOLDERPATH);
        g_capture.active = true;
    }
    return 0;
}

void convert_all(WindowUi& ui, const BatchCommand& cmd, const std::vector<std::string>& paths, bool single,
                 BatchTally& tally) {
    for (const std::string& path : paths) {
        if (!platform::fits(path)) {
            ui.alert(too_long_message(path));
            tally.add(false);
            continue;
        }
        tally.add(cmd.convert(ui, path, single));
    }
}

void run_batch(HWND window, const BatchCommand& cmd) {
    const std::string cwd = platform::current_directory();
    const DWORD size = cmd.small_buffer ? kSmallBufferSize : kSelectionBufferSize;
    std::vector<char> selection(size, '\0');
    const std::string filter = filter_of(cmd.filter_text, cmd.pattern);

    OPENFILENAMEA ofn = {};
    ofn.lStructSize = kOpenFileNameSize;
    ofn.hwndOwner = window;
    ofn.lpstrFilter = filter.c_str();
    ofn.lpstrFile = selection.data();
    ofn.nMaxFile = size;
    ofn.lpstrInitialDir = cwd.c_str();
    ofn.lpstrTitle = cmd.title;
    ofn.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_ALLOWMULTISELECT | OFN_ENABLEHOOK;
    ofn.lpstrDefExt = cmd.default_ext;
    ofn.lpfnHook = selection_hook;
    g_capture = Capture{};

    WindowUi ui(window);
    BatchTally tally;
    const BOOL chosen = GetOpenFileNameA(&ofn);
    const Capture capture = std::move(g_capture);
    g_capture = Capture{};
    const CapturedSelection* captured = capture.active && !capture.names.empty() ? &capture : nullptr;
    BatchFiles files;
    if (chosen) {
        files = files_of_answer(walk_selection(selection), captured, size);
    } else {
        const DWORD error = CommDlgExtendedError();
        const char* box = error == CDERR_STRUCTSIZE       ? "CDERR_STRUCTSIZE"
                          : error == CDERR_INITIALIZATION ? "CDERR_INITIALIZATION"
                          : error == CDERR_DIALOGFAILURE  ? "CDERR_DIALOGFAILURE"
                                                          : nullptr;
        if (box) {
            message_box(window, box, "ERROR", MB_OK | MB_ICONEXCLAMATION);
            return;
        }
        if (error != FNERR_BUFFERTOOSMALL) return;
        if (!captured && cmd.small_buffer) {
            set_status(window, buffer_too_small_text(selection), false);
            return;
        }
        // The selection did not fit the buffer: take it from what the hook
        // captured.
        files = files_of_too_long(captured);
    }
    if (files.left_out > 0) ui.alert(left_out_text(files));
    convert_all(ui, cmd, files.paths, files.single, tally);
    for (std::size_t i = 0; i < files.left_out; ++i) tally.add(false);
    set_status(window, tally.final_text(cmd.ok_text, cmd.verb), false);
}

// The per-file converters of a kind, from the table of kinds.
bool decode_as(formats::Kind kind, WindowUi& ui, const std::string& path) {
    return formats::row_of(kind)->decode_file(ui, path);
}
bool encode_as(formats::Kind kind, WindowUi& ui, const std::string& path) {
    return formats::row_of(kind)->encode_file(ui, path);
}

}  // namespace

void decode_bm2(HWND window) {
    run_batch(window, {"Select BM2 files to decode", "BM2 Files", "*.bm2", "bm2", "Decoding OK", "Decoding",
                       [](WindowUi& ui, const std::string& p, bool) { return decode_as(formats::Kind::bm2, ui, p); },
                       false});
}

void decode_bm2_png(HWND window) {
    run_batch(window, {"Select BM2 files to decode", "BM2 Files", "*.bm2", "bm2", "Decoding OK", "Decoding",
                       [](WindowUi& ui, const std::string& path, bool) { return bm2::decode_png_file(ui, path); },
                       false});
}

void decode_wv5(HWND window) {
    run_batch(window, {"Select WV5 files to decode", "WV5 Files", "*.wv5", "wv5", "Decoding OK", "Decoding",
                       [](WindowUi& ui, const std::string& p, bool) { return decode_as(formats::Kind::wv5, ui, p); },
                       true});
}

void decode_ab(HWND window) {
    run_batch(window, {"Select AB files to decode", "AB Files", "*.ab", "ab", "Decoding OK", "Decoding",
                       [](WindowUi& ui, const std::string& path, bool single) {
                           return single ? run_scripting(ui, path, ScriptJob::decode)
                                         : decode_as(formats::Kind::ab, ui, path);
                       },
                       false});
}

void encode_ab(HWND window) {
    run_batch(window, {"Select script files to decode", "Script Files", "*.txt", "txt", "Encoding OK", "Encoding",
                       [](WindowUi& ui, const std::string& path, bool single) {
                           return single ? run_scripting(ui, path, ScriptJob::encode)
                                         : encode_as(formats::Kind::ab, ui, path);
                       },
                       false});
}

void encode_bm2(HWND window) {
    run_batch(window, {"Select images to encode", "Image Files", "*.bmp;*.png", "png", "Encoding OK", "Encoding",
                       [](WindowUi& ui, const std::string& p, bool) { return encode_as(formats::Kind::bm2, ui, p); },
                       false});
}

void encode_wv5(HWND window) {
    run_batch(window, {"Select WAV files to encode", "WAV Files", "*.wav", "wav", "Encoding OK", "Encoding",
                       [](WindowUi& ui, const std::string& p, bool) { return encode_as(formats::Kind::wv5, ui, p); },
                       false});
}

}  // namespace vid::app
