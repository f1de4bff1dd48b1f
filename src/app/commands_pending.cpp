// Commands whose converters are not in this build yet: they do nothing.
#include "app/commands.h"

namespace vid::app {

void extract_fl3(HWND) {}
void encode_fl3(HWND) {}
void decode_bm2(HWND) {}
void decode_wv5(HWND) {}
void decode_ab(HWND) {}
void encode_ab(HWND) {}

}  // namespace vid::app
