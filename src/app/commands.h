// The jobs of the menu commands. Each takes the main window (owner of its
// dialogs and boxes, the window whose status line it writes) and returns
// when its work is done. A command whose converter is not in this build
// does nothing.
#pragma once

#include <windows.h>

#include <string>

namespace vid::app {

void extract_fl3(HWND window);
void encode_fl3(HWND window);
void decode_bm2(HWND window);
// Decode BM2 to PNG: BM2 images to PNG files, alpha included.
void decode_bm2_png(HWND window);
void decode_wv5(HWND window);
void decode_ab(HWND window);
void encode_ab(HWND window);
void encode_bm2(HWND window);
void encode_wv5(HWND window);
void export_texts(HWND window);
void import_texts(HWND window);

// Unpack Game and Repack Game return once their folders are chosen; the
// work goes on on a thread of its own until it ends or is stopped.
void unpack_game(HWND window);
void repack_game(HWND window);
// Repack Game of the work folder `work`: asks only for the output folder.
void repack_work(HWND window, const std::string& work);
// Apply Patch (or Undo Patch): a patch folder that Repack Game wrote, then
// the game folder it goes into.
void apply_patch(HWND window, bool undo);
// Whether one of them is still at work.
bool project_running();
// Asks it to stop (Esc); with `close`, the window closes when it has.
void stop_project(bool close);
// A command that waits for it (one posted to the window while its menu
// item is greyed): the status line says why nothing happened, under the
// worker's text, until the run ends.
void refuse_command(HWND window);
// The messages of its worker to the window; false for any other message.
bool project_message(HWND window, UINT message, LPARAM lparam);

}  // namespace vid::app
