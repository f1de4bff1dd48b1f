// Extract FL3 and Encode FL3: one archive, or one index and one archive.
#include "app/commands.h"
#include "app/open_dialog.h"
#include "app/window_ui.h"
#include "fl3/fl3.h"
#include "platform/file.h"

namespace vid::app {

void extract_fl3(HWND window) {
    const std::string cwd = platform::current_directory();
    auto archive = ask_one_file(window, "FL3 Files", "*.fl3", "Select FL3 file to decode",
                                OFN_EXPLORER | OFN_FILEMUSTEXIST, "fl3", cwd);
    if (!archive) return;
    WindowUi ui(window);
    fl3::extract(ui, *archive);
}

void encode_fl3(HWND window) {
    const std::string cwd = platform::current_directory();
    auto index_path = ask_one_file(window, "FL3 indexes Files", "_index.bin", "Select FL3 indexes file",
                                   OFN_EXPLORER | OFN_FILEMUSTEXIST, "bin", cwd);
    if (!index_path) return;
    WindowUi ui(window);
    // The whole index is checked before the archive is asked for.
    auto index = fl3::load_index(ui, *index_path);
    if (!index) return;
    auto archive = ask_one_file(window, "FL3 Files", "*.fl3", "Select FL3 file", OFN_EXPLORER, "fl3", cwd);
    if (!archive) return;
    fl3::compact(ui, *index, *archive);
}

}  // namespace vid::app
