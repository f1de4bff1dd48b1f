// The jobs of the menu commands. Each takes the main window (owner of its
// dialogs and boxes, the window whose status line it writes) and returns
// when its work is done. A command whose converter is not in this build
// does nothing.
#pragma once

#include <windows.h>

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

}  // namespace vid::app
