// A small Win32 automation kit for driving Vidodide.exe under Wine as a
// person would: real keyboard input (SendInput), windows found by class and
// title, pixels read from the screen.
#pragma once

#include <windows.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace gui {

// The program under test, started with a working folder of our choosing.
class App {
public:
    App(const std::string& exe, const std::string& cwd);
    ~App();
    bool started() const { return main_ != nullptr; }
    HWND main() const { return main_; }
    // Waits for the process to end; its exit code, or -1 on timeout.
    long wait_exit(DWORD ms);
    bool running() const;

private:
    PROCESS_INFORMATION pi_{};
    HWND main_ = nullptr;
};

// Polls `find` until it returns a window or `ms` pass.
HWND wait_for(const std::function<HWND()>& find, DWORD ms = 5000);
// A top-level dialog (class #32770) with this title.
HWND wait_dialog(const char* title, DWORD ms = 5000);
bool wait_gone(HWND window, DWORD ms = 5000);
// Lets the program under test run for a while.
void settle(DWORD ms = 300);

// Keyboard input through SendInput.
void key(WORD vk, bool down);
void press(WORD vk);
void press_with(std::initializer_list<WORD> modifiers, WORD vk);
void type_text(const std::string& text);  // characters, as typed
void focus(HWND window);

// The keyboard focus put on a control of another program's window, as
// Tab would put it there.
bool focus_control(HWND control);
std::string window_text(HWND window);
// The text of a control as the program gave it, in UTF-16.
std::wstring window_text_wide(HWND window);
std::string class_name(HWND window);
std::vector<HWND> children(HWND parent);

// Client area pixels (from the screen) and the same area as the program
// would draw `text` with DrawTextA and `format` (0: one line per line feed,
// cut at the edge) in a device context's default font on the window colour.
std::vector<COLORREF> capture_client(HWND window);
std::vector<COLORREF> render_status(HWND window, const std::string& text, UINT format = 0);
// True as soon as the status line shows `text` drawn with `format` (looked
// at every `poll` ms).
bool status_shows(HWND window, const std::string& text, DWORD ms = 3000, DWORD poll = 100, UINT format = 0);

// Saves the window's screen rectangle as a 24-bit BMP.
bool save_bmp(HWND window, const std::string& path);

}  // namespace gui

namespace gui {

// Opens a menu popup with Alt+`mnemonic`, moves down `downs` items and
// chooses the highlighted one with Enter.
void menu_command(HWND main, char mnemonic, int downs);
// Waits for the open-file dialog titled `title`, types `name` into its
// file-name box and presses Enter. False when no such dialog appeared.
bool choose_file(const char* title, const std::string& name);
// Waits for the open-file dialog titled `title` and cancels it with Esc.
bool cancel_dialog(const char* title);
// Waits for a message box titled `title`, returns its text and closes it
// with Enter; "" when none appeared.
std::string take_message_box(const char* title, DWORD ms = 5000);
// The text of a message box's message.
std::string message_text(HWND box);
std::wstring message_text_wide(HWND box);

// Files (Windows paths).
bool read_all(const std::string& path, std::string& out);
bool same_file(const std::string& a, const std::string& b);
bool file_exists(const std::string& path);
std::vector<std::string> list_folder(const std::string& folder);  // names, sorted
// Holds a file open without sharing, as another program might.
class FileLock {
public:
    explicit FileLock(const std::string& path);
    ~FileLock();
    bool held() const { return h_ != INVALID_HANDLE_VALUE; }

private:
    HANDLE h_;
};

}  // namespace gui

namespace gui {

// A left click in the middle of `window` (or at `x`, `y` in it).
void click(HWND window, int x = -1, int y = -1);
// Alerts shown one after the other (each closed with Enter) until none comes
// within `quiet` milliseconds.
std::vector<std::string> drain_message_boxes(const char* title, DWORD quiet = 1500);
// Alerts taken as they come until `done` holds while none is shown (then
// any that follow within half a second), or `ms` milliseconds pass: a run
// whose first Alert is late under load is not taken for one without.
std::vector<std::string> take_boxes_until(const char* title, const std::function<bool()>& done, DWORD ms);
// The nodes of a tree view of another process, depth first: a level-1 node's
// text, its children's texts indented by two spaces; each text as the view
// holds it (UTF-16).
std::vector<std::wstring> read_tree(HWND tree);
// The rows of a list view of another process in report view, each its
// first `columns` cells, in the order shown.
std::vector<std::vector<std::wstring>> read_list(HWND list, int columns);
// The whole text of a control (an edit control's of any length).
std::wstring whole_text(HWND window);
// Bytes in code page 932 as Windows reads them (a byte that is no character
// of it becomes the system's stand-in).
std::wstring from_932(const std::string& text);
// Names in `folder` ending with `suffix`, sorted.
std::vector<std::string> names_with(const std::string& folder, const std::string& suffix);
// `"a" "b" "c"`, as typed into the file-name box to choose several files.
std::string quoted(const std::vector<std::string>& names);
std::vector<std::string> read_lines(const std::string& path);

}  // namespace gui
