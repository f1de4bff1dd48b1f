// The shell's process-wide state and the pieces the commands share.
#pragma once

#include <windows.h>

#include <string>
#include <string_view>

namespace vid::app {

struct Shell {
    HINSTANCE instance = nullptr;  // application instance
    std::string title;             // string 103
    std::string class_name;        // string 109
    std::string status;            // the status line, drawn by the main window
    bool status_wraps = false;     // drawn in lines as wide as the window (the mod project's texts)
    std::string message;           // the message buffer, filled before each box
};

// The one shell of the process, owned by WinMain.
Shell& shell();

// Status line protocol: replace the text and invalidate the whole client area
// with erasing; with `now`, also draw it before returning. A text that
// `wraps` is broken into lines as wide as the window wherever it is drawn
// (between words, or inside a word longer than a line, such as a path);
// any other text is drawn on one line per line feed and cut at the edge.
void set_status(HWND window, const std::string& text, bool now, bool wraps = false);

// The menu commands that wait while Unpack Game or Repack Game is at work
// (all but Exit and About): greyed with `allow` false, enabled again with
// `allow` true.
void allow_commands(HWND window, bool allow);

// The program's texts as UTF-16 for the controls: `shown_text` takes each
// well-formed UTF-8 sequence as UTF-8 and every other byte as the ANSI code
// page's (paths, with the characters that messages quote from UTF-8
// listings and tables); `game_text` takes a game text in code page 932, as
// the game shows it; `from_code_page` any other code page (falling back to
// the ANSI one where the system lacks it).
std::wstring shown_text(std::string_view text);
std::wstring game_text(std::string_view text);
std::wstring from_code_page(std::string_view text, UINT code_page);

// Message boxes: text into the message buffer, then the box, its text and
// title drawn as `shown_text` has them.
int message_box(HWND owner, const std::string& text, const char* title, UINT flags);

// A dialog's OK (1) or Cancel (2) command, the close box included: ends the
// dialog with that id as its result. False for any other command.
bool end_on_ok_or_cancel(HWND dialog, WPARAM wparam);

LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
INT_PTR CALLBACK about_proc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);

}  // namespace vid::app
